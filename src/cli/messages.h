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
    "  serve             the agent: back up at the set time until SIGTERM or SIGINT\n"
    "  demo DIR          back up generated sample account sets of both kinds in DIR\n"
    "The application folder is the executable's folder unless --app-dir or VELTORA_APP_DIR\n"
    "names another. VELTORA_SQLSERVER_STANDIN=DIR selects the embedded SQL Server stand-in.\n";

inline constexpr char kAppDirNeedsFolder[] = "--app-dir needs a folder";
inline constexpr char kNoCommand[] = "no command given";
inline constexpr char kLimitNeedsNumber[] = "--limit takes a whole number of rows";
inline constexpr char kLogOptions[] = "log takes only --limit N and --show-passwords";
inline constexpr char kUnknownCommand[] = "unknown command or wrong arguments: ";

// The progress of a long step: stage + " " + item + "... " + percent + "%", and
// for an item of a mebibyte or more + " (" + done + " / " + total + " MiB)".
inline constexpr char kStageLocalBackup[] = "本机备份";
inline constexpr char kStageCompression[] = "压缩";
inline constexpr char kStageArchiveTest[] = "测试压缩文件";
inline constexpr char kStageShareCopy[] = "复制到远程";
inline constexpr char kStageShareVerify[] = "校验远程副本";
inline constexpr char kDatabaseWritten[] = "已写入设置数据库 ";
inline constexpr char kBackupAlreadyRunning[] = "veltora-cli backup: another backup is running\n";
inline constexpr char kLogQueryFailed[] = "veltora-cli log: 查询备份日志出错: ";
inline constexpr char kLogHeader[] = "账套名 | 备份文件 | 备份时间 | 备注 | 压缩密码\n";
// What stands in the archive-password column unless the passwords are asked for.
inline constexpr char kPasswordPlaceholder[] = "******";

}  // namespace veltora::cli_msg
