// Texts of the command line, spelled once.
#pragma once

namespace veltora::cli_msg {

inline constexpr char kUsage[] =
    "usage: veltora-cli [--app-dir DIR] <command>\n"
    "  init              write the prepared empty settings database into the application folder\n"
    "  backup            run one backup job now from the stored settings\n"
    "  log [--limit N] [--show-passwords]\n"
    "                    show the backup table, newest first; archive passwords show as ******\n"
    "                    unless --show-passwords is given\n"
    "  restore-settings  put the spare copy setlog.dlb back in place of a missing or damaged\n"
    "                    Setlog.dll (the damaged file is kept under a new name)\n"
    "  status [--json]   each ticked account set's last complete backup (local and share), its\n"
    "                    age, the next backup, whether an agent serves the folder, the verdict;\n"
    "                    exit 0 all current, 1 some older than the days between backups plus\n"
    "                    one day, 2 some never completed or the settings cannot be read\n"
    "  demo DIR          back up generated sample account sets of both kinds in DIR\n"
    "  serve             the agent: start-up checks, the schedule once a second, the guard;\n"
    "                    SIGTERM, SIGINT or SIGHUP ends it once no backup runs\n"
    "  serve --service   the agent as the Windows service (started by the service manager)\n"
    "  service install | uninstall | start | stop | status\n"
    "                    the agent as a Windows service on the application folder: install\n"
    "                    (or update) it to start with Windows, remove it, start or stop it,\n"
    "                    show its state; status exits 0 running, 3 not running or not\n"
    "                    installed, 1 when the state cannot be read\n"
    "  restore --list [NAME]\n"
    "                    the backups that can be restored, newest first: account set, stamp,\n"
    "                    where (local, share), bytes, whether its digest is known, its row\n"
    "  restore NAME [--stamp YYYYMMDDHHNNSS] --to DIR [--replace] [--password-stdin]\n"
    "                    file editions: the backup (the newest unless --stamp), checked against\n"
    "                    its digests, into DIR under the account set's file name; an existing\n"
    "                    file is replaced only with --replace and kept as NAME.before-restore-*\n"
    "  restore NAME [--stamp ...] --as-database NEW | --replace\n"
    "                    SQL editions: into a new database, or over the account set's own\n"
    "                    database after a fresh backup of it completed\n"
    "  verify [NAME]     test-restore the newest backup of each account set from each side that\n"
    "                    keeps it; exit 0 only when every one passes\n"
    "  settings show [--show-passwords] | set KEY=VALUE... [--tick NAME]... | tick NAME...\n"
    "                    show or change the settings under the checks of saving; a password\n"
    "                    given as KEY=- is read from standard input\n"
    "The application folder is the executable's folder unless --app-dir or VELTORA_APP_DIR\n"
    "names another. VELTORA_SQLSERVER_STANDIN=DIR selects the embedded SQL Server stand-in.\n";

inline constexpr char kAppDirNeedsFolder[] = "--app-dir needs a folder";
inline constexpr char kNoCommand[] = "no command given";
inline constexpr char kLimitNeedsNumber[] = "--limit takes a whole number of rows";
inline constexpr char kLogOptions[] = "log takes only --limit N and --show-passwords";
inline constexpr char kRestoreOptions[] =
    "restore takes --list [NAME], or NAME with --to DIR or --as-database NEW (or --replace), "
    "--stamp, --replace and --password-stdin";
inline constexpr char kRestoreStampForm[] = "--stamp takes 14 digits, YYYYMMDDHHNNSS";
inline constexpr char kVerifyOptions[] = "verify takes at most one account set's name";
inline constexpr char kPasswordNotRead[] = "no password could be read from standard input";
inline constexpr char kRestoreWhileBackup[] = "正在备份，请稍后再恢复或测试：";
inline constexpr char kBackupFirstIncomplete[] = "备份没有全部完成";
inline constexpr char kRestoreListHeader[] =
    "账套 | 备份时间 | 位置 | 字节数 | 校验值 | 备份表行号\n";
inline constexpr char kWhereLocal[] = "本机";
inline constexpr char kWhereShare[] = "远程";
inline constexpr char kWhereBoth[] = "本机和远程";
inline constexpr char kDigestKnown[] = "已记录";
inline constexpr char kDigestUnknown[] = "未记录";
inline constexpr char kVerifyOk[] = "通过";
inline constexpr char kVerifyFailed[] = "失败";
inline constexpr char kNothingToVerify[] = "没有可以测试的账套";
inline constexpr char kUnknownCommand[] = "unknown command or wrong arguments: ";

inline constexpr char kDatabaseWritten[] = "已写入设置数据库 ";
inline constexpr char kLogQueryFailed[] = "veltora-cli log: 查询备份日志出错: ";
inline constexpr char kLogHeader[] = "账套名 | 备份文件 | 备份时间 | 备注 | 压缩密码\n";
// What stands in the archive-password column unless the passwords are asked for.
inline constexpr char kPasswordPlaceholder[] = "******";

// veltora-cli status.
inline constexpr char kStatusAgent[] = "备份服务: ";
inline constexpr char kStatusServing[] = "正在运行";
inline constexpr char kStatusNotServing[] = "没有运行";
inline constexpr char kStatusNextBackup[] = "下次备份时间: ";
inline constexpr char kStatusNone[] = "无";
inline constexpr char kStatusNothingTicked[] = "您好，尚未选择需要备份的账套！";
inline constexpr char kStatusAccountSet[] = "账套: ";
inline constexpr char kStatusLastComplete[] = "  最近完整备份: ";
inline constexpr char kStatusAgo[] = "前";
inline constexpr char kStatusLocalFile[] = "  本机备份文件: ";
inline constexpr char kStatusShareFile[] = "  远程备份文件: ";
inline constexpr char kStatusShareOff[] = "未启用远程备份";
inline constexpr char kStatusLastVerification[] = "  最近恢复测试: ";
inline constexpr char kStatusVerificationPassed[] = "通过";
inline constexpr char kStatusVerificationFailed[] = "失败，原因：";
inline constexpr char kStatusVerdict[] = "  结论: ";
// After the verdict of a set whose last test restore failed.
inline constexpr char kStatusLateForVerification[] = "（最近一次恢复测试失败）";
inline constexpr char kStatusCurrent[] = "正常";
inline constexpr char kStatusLate[] = "备份已过期";
inline constexpr char kStatusNever[] = "从未完整备份";
inline constexpr char kStatusLoadFailed[] = "读取设置失败";

// veltora-cli settings.
inline constexpr char kSettingsUsage[] =
    "usage: veltora-cli [--app-dir DIR] settings show [--show-passwords]\n"
    "       veltora-cli [--app-dir DIR] settings set KEY=VALUE... [--tick NAME]...\n"
    "       veltora-cli [--app-dir DIR] settings tick NAME...\n"
    "KEY is a column of the settings row: softvernum (0-3), accountdir, sqluser, sqlpwd,\n"
    "localuser, localpwd, remoteuser, remotepwd, remotebak (true/false), localdir, remotedir,\n"
    "bakfilenum (0-500), rarlevel (不压缩 最快 较快 标准 较好 最好, or 0-5), baktime (hh:mm:ss),\n"
    "conout (7-3600), sqlout (30-9999), btwdays (1-30), safecheck (true/false), rarpwd.\n"
    "--tick and tick name the account sets to back up, exactly; otherwise the ticked ones\n"
    "stay ticked. The values are checked as the window's save checks them; a refused value\n"
    "is reported with the window's message and nothing is stored (exit 2). Folders are full\n"
    "paths. A save waits up to 30 s for another save of the folder.\n"
    "autostart (true/false) is the window's box that starts the agent with the machine (on\n"
    "Linux: systemctl enable or disable veltora.service); it is changed at once, not saved,\n"
    "and a change that fails exits 1 with the reason.\n";
inline constexpr char kSettingsNeedsAction[] = "settings takes show, set or tick";
inline constexpr char kShowOptions[] = "show takes only --show-passwords";
inline constexpr char kSetNeedsValue[] = "set takes at least one KEY=VALUE or --tick NAME";
inline constexpr char kTickNeedsName[] = "tick takes the names of the account sets to tick";
inline constexpr char kUnknownSetting[] = "not a KEY=VALUE of the settings: ";
inline constexpr char kRepeatedSetting[] = "given twice: ";
// A password key given as KEY=- is read from standard input.
inline constexpr char kSecretPrompt[] = "请输入密码（输入的内容不显示）：";
inline constexpr char kSecretAgainPrompt[] = "请再次输入密码：";
inline constexpr char kSecretNotRead[] =
    "no password read from standard input (or the two entries differ) for ";
inline constexpr char kIntervalRange[] = "btwdays takes a whole number of days from 1 to 30";
inline constexpr char kSwitchValue[] = "true or false for ";
inline constexpr char kEditionValue[] = "softvernum takes 0, 1, 2 or 3";
inline constexpr char kLevelValue[] = "rarlevel takes 不压缩, 最快, 较快, 标准, 较好, 最好 or 0-5";
inline constexpr char kLocalBackupFixed[] =
    "localbak is always true: local backup cannot be switched off";
// A SQL Server login given for a file edition, followed by its key.
inline constexpr char kSqlLoginIgnored[] =
    "当前版本的账套保存在文件中，不使用SQL Server的登录，此项已忽略，未保存：";
inline constexpr char kNoSuchAccountSet[] = "no account set of that name in the list: ";
inline constexpr char kAccountSetsHeader[] = "账套:\n";
inline constexpr char kSettingsSaved[] = "设置已保存\n";
inline constexpr char kServiceOptions[] =
    "service takes one of install, uninstall, start, stop, status";
// `serve --service` started by hand rather than by the service manager.
inline constexpr char kServeServiceByHand[] =
    "serve --service 只能由服务控制管理器启动：请用 veltora-cli service start 启动服务";
// `service install` on a folder without its settings database: the service
// would fail at every start and be restarted each minute.
inline constexpr char kServiceNeedsSettings[] =
    "此目录中没有设置数据库，服务无法在此运行，请先运行 veltora-cli init：";
// veltora-cli service status: "<display name>：<state>，应用程序目录：<folder>".
inline constexpr char kServiceStatusFolder[] = "，应用程序目录：";
// The service found the folder served by a window or a console agent: it
// waits, once said, and takes over when that program ends.
inline constexpr char kServiceWaitsForFolder[] =
    "后台服务：另一个程序（托盘程序或控制台中的代理）正在为此目录备份，服务等它退出后接管。";
inline constexpr char kEndedWithoutStop[] =
    "the agent ended without a stop request: see the messages above and the run log";

}  // namespace veltora::cli_msg
