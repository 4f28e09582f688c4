// Texts of the windows and of the schedule, spelled once. Captions, labels
// and messages are the program's own and are shown exactly as written here.
#pragma once

namespace veltora::ui_msg {

// The schedule.
inline constexpr char kNextBackupPrefix[] = "下次备份时间:";
inline constexpr char kScheduledStartFailed[] = "创建备份线程失败，无法进行备份操作！";
// Run log: a due backup time whose minute passed without a start (the
// machine asleep, the clock moved over it), and the one start that makes it
// up; each around the due time "yyyy-mm-dd hh:mm:ss".
inline constexpr char kMissedBackupPrefix[] = "未能按时执行";
inline constexpr char kMissedBackupSuffix[] = "的定时备份！";
inline constexpr char kCatchUpPrefix[] = "开始补做";
inline constexpr char kCatchUpSuffix[] = "的定时备份！";
// Run log: the stored last backup time lies on a day still to come; around
// that time.
inline constexpr char kFutureLastBackupPrefix[] = "上次备份时间";
inline constexpr char kFutureLastBackupSuffix[] =
    "晚于当前时间，系统时间可能有误，定时备份改按当前时间安排！";

// Start-up and closing of the main window. The start-up refusals themselves
// (blank in the path, second instance, no administrator) come from app_msg.
inline constexpr char kStartupDatabaseError[] = "系统启动出错，错误号0002....";
inline constexpr char kNotConfigured[] = "您好，您尚未进行备份设置，请进行相关的设置！";
inline constexpr char kStartupFailed[] = "程序启动失败！";
inline constexpr char kStartupSucceeded[] = "程序启动成功！";
inline constexpr char kCloseRefusedBackupRunning[] =
    "您好，有线程正在运行无法退出，如您强行退出会导致线程残留！";
inline constexpr char kServiceStopped[] = "服务停止成功！";
inline constexpr char kProgramStopped[] = "程序停止成功！";
inline constexpr char kProtectionReleased[] = "解除进程保护成功！";
inline constexpr char kCloseFailed[] = "关闭程序过程中发生异常！";
inline constexpr char kEndSessionRefused[] =
    "操作系统试图退出，但数据库备份线程正在运行，禁止退出！";
inline constexpr char kEndSessionAccepted[] = "由于系统退出，程序被迫关闭！";
inline constexpr char kEndSessionFailed[] = "操作系统退出过程中，程序发生错误！";

// The backup-state label of the top strip.
inline constexpr char kStatusRunning[] = "正在执行备份操作";
inline constexpr char kStatusIdle[] = "当前无备份操作";
// A window whose backups the agent's service makes: the service's state
// between the two parts ("由后台服务自动备份（运行中）").
inline constexpr char kStatusServiceHead[] = "由后台服务自动备份（";
inline constexpr char kStatusServiceTail[] = "）";
// Run-log line: the service stopped and its window took the schedule over.
inline constexpr char kTookOverFromService[] = "后台服务未运行，本程序接管自动备份。";

// "立即备份".
inline constexpr char kBackupNowNotConfigured[] =
    "您好，程序缺乏相关的配置信息，无法进行数据库的备份操作，请先对相关的信息进行配置并点击["
    "保存设置]"
    "按钮，然后再单击本按钮！";
inline constexpr char kBackupNowAlreadyRunning[] =
    "您好，已有一个备份线程正在运行，无需同时启动多个备份线程！";
inline constexpr char kBackupNowNothingTicked[] = "您好，请先选择好需要备份的账套!";
inline constexpr char kBackupNowStartFailed[] =
    "您好，备份线程启动失败，无法进行数据库的备份操作！";
inline constexpr char kBackupNowStarted[] =
    "您好，系统正在执行您的备份指令，待备份完成后，您可以在备份日志里查看备份执行的情况!";

// The start-with-the-system box. Its warnings repeat the run-log lines of
// app_msg (kAutostartWriteFailed, kAutostartRemoveFailed).
inline constexpr char kAutostartError[] = "您好，操作程序自启动过程中发生错误可能的原因为：";

// The backup log window.
inline constexpr char kBackupLogCaption[] = "备份日志";
inline constexpr char kBackupLogCloseButton[] = "关         闭";  // nine blanks
inline constexpr char kBackupLogRefresh[] = "刷新";
inline constexpr char kBackupLogQueryFailed[] = "查询备份日志出错";
// A row's restore from the backup log window.
inline constexpr char kBackupLogRestore[] = "恢复此备份...";
inline constexpr char kRestoreNotABackupRow[] =
    "您好，这一行记录的不是一个成功的备份，没有可以恢复的备份文件！";
inline constexpr char kRestoreBackupGone[] =
    "您好，这一行的备份文件在本机和远程备份路径中都已找不到（可能已按保留个数删除，"
    "或账套已不在备份列表中），无法恢复！";
inline constexpr char kRestoreLookingUp[] = "正在查找这一行的备份…";
// The status line while a restore runs: this, then the step, the file and
// its percentage.
inline constexpr char kRestoreRunning[] = "正在恢复…";
inline constexpr char kStageLocalBackup[] = "本机备份";
inline constexpr char kStageCompression[] = "压缩";
inline constexpr char kStageArchiveTest[] = "测试压缩文件";
inline constexpr char kStageShareCopy[] = "复制到远程";
inline constexpr char kStageShareVerify[] = "校验远程副本";
inline constexpr char kStageShareFetch[] = "从远程取回";
inline constexpr char kStageExtraction[] = "解压并校验";
inline constexpr char kRestoreChooseFolder[] = "请选择要把账套恢复到哪个文件夹：";
// The question before a file of the ledger's name is replaced: head, the
// file, question.
inline constexpr char kRestoreReplaceHead[] = "您选择的文件夹中已有同名的账套文件：\n";
inline constexpr char kRestoreReplaceQuestion[] = "\n是否替换？替换前，原有文件将改名留作副本。";
inline constexpr char kRestoreDatabaseNamePrompt[] =
    "备份将恢复为一个新的数据库，请确认新数据库的名称：";
inline constexpr char kRestoreDatabaseNameEmpty[] = "您好，新数据库的名称不能为空！";
inline constexpr char kRestoreWhileBackup[] = "备份线程正在运行，请等备份完成后再恢复：";
inline constexpr char kRestoreFailedHead[] = "恢复备份失败！\n";
inline constexpr char kRestoreFailedStatus[] = "恢复失败";
inline constexpr char kRestoreDoneStatus[] = "恢复完成：";
inline constexpr char kRestoreCloseRefused[] =
    "您好，正在恢复备份，请等恢复完成后再关闭备份日志窗口！";
struct BackupLogColumn {
  const char* title;
  int width;  // pixels at 96 DPI
};
// In the order of BackupLogRow's members.
inline constexpr BackupLogColumn kBackupLogColumns[] = {
    {"账套名", 140}, {"备份文件", 305}, {"备份时间", 127}, {"备注", 100}, {"压缩密码", 70},
};

// Loading the settings.
inline constexpr char kLoadOpenFailed[] = "系统运行出错,错误号0001!";
// The agent's reload of a settings file that is gone, unreadable or damaged:
// it goes on with the settings it has. The reason follows the first line.
inline constexpr char kSettingsUnreadableKept[] =
    "设置数据库无法读取，程序继续使用已读取的设置运行，原因为：";
inline constexpr char kSettingsReadAgain[] = "设置数据库已恢复正常，程序已重新读取设置！";

// Saving the settings: the checks in their order, then writing and applying.
inline constexpr char kSaveWhileBackupRuns[] =
    "您好，备份线程正在运行，您可能暂时无法保存设置，请等待备份线程结束后，再执行保存操作！";
inline constexpr char kChooseAccountSets[] = "请设置需要备份的账套!";
inline constexpr char kConnectTimeoutInvalid[] =
    "您好，数据库连接超时时间输入非法，请重新输入！(建议：10-60秒)";
inline constexpr char kCommandTimeoutInvalid[] =
    "您好，SQL命令执行超时时间输入非法，请重新输入！(建议：2500-9000秒)";
inline constexpr char kEnterServerUser[] = "您好，请输入登录服务器上Windows系统的用户名！";
inline constexpr char kEnterRemoteUser[] = "您好，请输入访问远程共享文件夹的用户名！";
inline constexpr char kEnterServerFolder[] = "您好，请输入在服务器上的备份路径！";
inline constexpr char kLocalFolderInvalid[] = "您好，本机上的备份路径无效，请重新输入！";
inline constexpr char kLocalFolderIsNetwork[] =
    "您好，本机上的备份路径，不能为网络路径，请重新输入！";
inline constexpr char kLocalFolderNotWritable[] =
    "您好，本机上的备份路径没有读写的权限，请设置相应的权限！";
inline constexpr char kEnterRemoteFolder[] = "您好，请输入远程共享文件夹的路径！";
inline constexpr char kRemoteFolderLocalOnSave[] =
    "您好，远程共享文件夹的路径，不应该为本地路径，请重新输入！";
inline constexpr char kShareUnreachable[] =
    "您好，程序无法访问远程共享文件夹，请检查您的网络是否正常，以及您输入的访问帐号是否有误！";
inline constexpr char kBackupTimeInvalid[] = "您好，定时备份时间输入非法，请重新输入！";
inline constexpr char kKeepCountInvalid[] = "您好，备份个数输入非法，请重新输入！";
inline constexpr char kChooseLocalOrRemote[] = "您至少要在本地备份和服务器备份中选择一项！";
inline constexpr char kSaveOpenFailed[] = "系统在保存信息时发生错误，错误号：0004";
// Another process (or the window) is saving the settings of this folder and
// did not finish in time.
inline constexpr char kSaveInProgress[] =
    "您好，另一个保存设置的操作正在进行，请等它结束后再执行保存操作！";
// A text field holding a control character (a line break, a tab): the
// archiver's command line, a share's login and the run log break on it.
// Refused at the save and when the field is left.
inline constexpr char kSqlUserControlCharacter[] =
    "您好，连接数据库的用户名中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kSqlPasswordControlCharacter[] =
    "您好，连接数据库的密码中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kServerUserControlCharacter[] =
    "您好，登录服务器上Windows系统的用户名中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kServerPasswordControlCharacter[] =
    "您好，登录服务器上Windows系统的密码中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kShareUserControlCharacter[] =
    "您好，访问远程共享文件夹的用户名中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kSharePasswordControlCharacter[] =
    "您好，访问远程共享文件夹的密码中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kLocalFolderControlCharacter[] =
    "您好，本机上的备份路径中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kShareFolderControlCharacter[] =
    "您好，远程共享文件夹的路径中不能包含换行符、制表符等控制字符，请重新输入！";
inline constexpr char kAccountFolderControlCharacter[] =
    "您好，账套所在文件夹的路径中不能包含换行符、制表符等控制字符，请重新选择！";
// A folder that depends on the working folder of whoever saves: the agent,
// started elsewhere, would look somewhere else.
inline constexpr char kLocalFolderNotAbsolute[] =
    "您好，本机上的备份路径必须是从根目录或盘符开始的完整路径，请重新输入！";
// The account folder of a file edition, around the folder as given.
inline constexpr char kAccountFolderPrefix[] = "您好，账套所在的文件夹“";
inline constexpr char kAccountFolderNotAbsoluteSuffix[] =
    "”不是从根目录或盘符开始的完整路径，请重新选择！";
inline constexpr char kAccountFolderMissingSuffix[] = "”不存在或不是文件夹，请重新选择！";
// Leaving the interval field with no whole number in it: the days before
// stay.
inline constexpr char kIntervalInvalid[] =
    "您好，备份间隔天数输入非法，请重新输入！(有效范围：1-30天)";
// Followed by the database's error text.
inline constexpr char kSaveWriteFailed[] = "系统在保存信息时出错，错误号：0006";
// Followed by the error text.
inline constexpr char kSaveFailed[] = "保存设置过程中发生错误，保存失败！";
// Run log: the first save that switches the automatic service on.
inline constexpr char kServiceStarted[] = "服务启动成功！";

// The folder fields: Enter checks them, "浏览" chooses them.
inline constexpr char kEnterLocalFolder[] = "您好，请输入在本机上的备份路径！";
inline constexpr char kRemoteFolderIsLocal[] =
    "您好，远程共享文件夹的路径，不能为本地路径，请重新输入！";
inline constexpr char kRemoteFolderInvalid[] =
    "您好，您输入的远程共享文件夹的路径无效，请重新输入！";
inline constexpr char kRemoteFolderNotWritable[] =
    "您好，远程共享文件夹没有读写的权限，请设置相应的权限！";
inline constexpr char kBrowsePrompt[] = "请选择要添加的目录";
inline constexpr char kBlankInChosenFolder[] =
    "备份的目标文件夹名或路径中不能有空格，请尽量在硬盘根目录处新建备份文件夹!";

// The archive password.
inline constexpr char kOldPasswordWrong[] = "您好，旧密码输入错误，请重新输入密码！";
inline constexpr char kPasswordForbiddenCharacter[] =
    "您好，密码中不应该包含空格，-+/*?符号，请重新输入密码！";
// The archiver reads the password from its command line: a line break or a
// tab there fails every backup.
inline constexpr char kPasswordControlCharacter[] =
    "您好，密码中不应该包含换行符、制表符等控制字符，请重新输入密码！";
inline constexpr char kPasswordMismatch[] = "您好，新密码与确认密码不一致，请重新输入密码！";
inline constexpr char kPasswordTooLong[] = "您好，密码位数不能超过31位，请重新输入密码！";
inline constexpr char kPasswordSaved[] = "新的压缩包密码已保存!";
inline constexpr char kPasswordCheckFailed[] = "您好，校验RAR压缩包密码时出错！";
// Storing a new password failed: the old one stays in force. Followed by the
// database's error text.
inline constexpr char kPasswordNotSaved[] =
    "您好，新的压缩包密码未能保存，原来的密码仍然有效，请稍后再试！\r发生错误可能的原因为：";

// The alarm when backups stop: a ticked account set whose newest complete
// backup is older than the days between backups plus one day, or that never
// had one. The run log says it once a day; the tray's tip and balloon say it
// while it lasts. The overdue text is each set's name followed by its age
// ("(已有" + "3天" + "没有完整备份)") or by kNeverCompleted, joined by
// kOverdueSeparator.
inline constexpr char kBackupAlarmPrefix[] = "警告：以下账套已经很久没有完整的备份，请尽快检查：";
inline constexpr char kBackupAlarmSuffix[] = "！";
inline constexpr char kAgeOpen[] = "(已有";
inline constexpr char kAgeClose[] = "没有完整备份)";
inline constexpr char kAgeDays[] = "天";
inline constexpr char kAgeHours[] = "小时";
inline constexpr char kNeverCompleted[] = "(从未完整备份)";
inline constexpr char kOverdueSeparator[] = "、";
// A set whose last test restore failed: + the reason + kVerificationFailedClose;
// the reasons of its sides are joined by kVerificationReasonSeparator.
inline constexpr char kVerificationFailedOpen[] = "(最近一次恢复测试失败：";
inline constexpr char kVerificationFailedClose[] = ")";
inline constexpr char kVerificationReasonSeparator[] = "；";
// The tray: its tip while backups are late (followed by the overdue text,
// cut to what the tip holds), and the balloon's title.
inline constexpr char kTrayTipLate[] = "备份告警：";
inline constexpr char kBalloonTitle[] = "账套备份告警";

// Restoring a backup and the test restore.
inline constexpr char kRestoreSettingsUnreadable[] = "无法读取设置数据库：";
inline constexpr char kRestoreShareUnreachable[] = "无法连接远程备份路径，只能使用本机备份：";
inline constexpr char kRestoreShareMissing[] = "远程备份路径不存在，只能使用本机备份：";
inline constexpr char kRestoreNoSuchSet[] = "没有这个账套：";
inline constexpr char kRestoreSideLocal[] = "本机备份";
inline constexpr char kRestoreSideShare[] = "远程备份";
inline constexpr char kRestoreColon[] = "：";
inline constexpr char kRestoreReason[] = "，原因：";
inline constexpr char kRestoreChosen[] = "要恢复的备份：";
inline constexpr char kRestoreTaking[] = "正在取出";
inline constexpr char kRestoreSourceFailed[] = "不可用，改用下一个副本。原因：";
inline constexpr char kRestoreFetchFailed[] = "无法从远程备份路径取回压缩文件：";
inline constexpr char kRestoreNoDigest[] =
    "注意：这个备份是在记录校验值之前做的，只能确认压缩文件完整，无法确认与备份时一致";
inline constexpr char kRestoreAllSourcesFailed[] = "没有一个副本能够恢复，目标未作任何改动。";
inline constexpr char kRestoreNoBackup[] = "这个账套没有可以恢复的备份：";
inline constexpr char kRestoreNoSuchStamp[] = "没有这个时间的备份：";
inline constexpr char kRestoreTargetNotFolder[] = "恢复目标不是一个存在的本机文件夹：";
inline constexpr char kRestoreTargetExists[] =
    "目标文件已存在，未作任何改动（要替换它并把它留作副本，请加 --replace）：";
inline constexpr char kRestoreTargetNotWritable[] = "无法在恢复目标中写入：";
inline constexpr char kRestoreWorkFolderFailed[] = "无法建立临时工作文件夹：";
inline constexpr char kRestoreAsideSuffix[] = ".before-restore-";
inline constexpr char kRestoreKeepAsideFailed[] = "无法把现有文件留作副本，未作任何改动：";
inline constexpr char kRestorePlaceFailed[] = "无法把恢复的账套放到目标位置，现有文件已放回原处：";
inline constexpr char kRestoreFileDone[] = "账套已恢复到：";
inline constexpr char kRestoreKeptAside[] = "原有文件已留作副本：";
inline constexpr char kRestoreSqlNeedsTarget[] =
    "SQL 版账套请用 --as-database 指定新数据库名，或用 --replace 恢复到账套自己的数据库";
inline constexpr char kRestoreBadDatabaseName[] = "数据库名不能含有控制字符：";
inline constexpr char kRestoreNoLocalFolder[] = "本机备份路径不存在，SQL Server 无法读取备份：";
inline constexpr char kRestoreNoSqlServer[] = "无法连接 SQL Server";
inline constexpr char kRestoreDatabaseExists[] =
    "数据库已存在，未作任何改动（请换一个新数据库名）：";
inline constexpr char kRestoreSqlFailed[] = "SQL Server 拒绝了恢复：";
inline constexpr char kRestoreBackingUpFirst[] = "覆盖之前先备份并校验现有数据库：";
inline constexpr char kRestoreBackupFirstFailed[] = "现有数据库的备份没有成功，未作任何改动：";
inline constexpr char kRestoreDatabaseDone[] = "账套已恢复到数据库：";
inline constexpr char kVerifyPassed[] = "恢复测试通过";
inline constexpr char kVerifyPassedNoDigest[] =
    "恢复测试通过（此备份没有记录校验值，只确认了压缩文件完整）";
inline constexpr char kVerifyNoBackup[] = "没有可以测试的备份";

// The agent's test restore after a scheduled backup, in the run log: a line
// per set and side (kTestRestorePrefix + set + kTestRestoreOf + side + stamp
// in brackets + kTestRestorePassed or kTestRestoreFailed + reason), then the
// summary (kTestRestoreEnded + count + kTestRestoreAllPassed, or
// + kTestRestoreSomeFailed + failures + kTestRestoreSomeFailedSuffix).
inline constexpr char kTestRestorePrefix[] = "恢复测试：账套";
inline constexpr char kTestRestoreOf[] = "的";
inline constexpr char kTestRestoreStampOpen[] = "（";
inline constexpr char kTestRestoreStampClose[] = "）";
inline constexpr char kTestRestorePassed[] = "通过";
inline constexpr char kTestRestoreNoDigestNote[] = "（此备份没有记录校验值，只确认了压缩文件完整）";
inline constexpr char kTestRestoreFailed[] = "失败，原因：";
inline constexpr char kTestRestoreEnded[] = "恢复测试结束：共测试";
inline constexpr char kTestRestoreAllPassed[] = "个备份副本，全部通过！";
inline constexpr char kTestRestoreSomeFailed[] = "个备份副本，其中";
inline constexpr char kTestRestoreSomeFailedSuffix[] = "个没有通过，请尽快检查！";
inline constexpr char kTestRestoreNotMade[] = "恢复测试无法进行，原因：";
inline constexpr char kTestRestoreNotRecorded[] = "恢复测试的结果未能写入设置数据库，原因：";

}  // namespace veltora::ui_msg
