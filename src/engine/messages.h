// Run-log lines and backup-table texts of the backup job, spelled once.
#pragma once

namespace veltora::engine_msg {

inline constexpr char kUptimePrefix[] = "Windows操作系统运行了";
inline constexpr char kIdlePrefix[] = "计算机空闲了";
inline constexpr char kThreadStarted[] = "备份线程开始执行备份操作！";
inline constexpr char kThreadSucceeded[] = "备份线程成功执行了备份操作！";
inline constexpr char kThreadFailed[] = "备份线程运行出错！";
inline constexpr char kCopyRunLogPrefix[] = "将";
inline constexpr char kCopyRunLogMiddle[] = "运行日志文件拷贝到远程共享文件夹";
inline constexpr char kCopyRunLogOk[] = "操作成功！";
inline constexpr char kCopyRunLogFailed[] = "操作失败！";

inline constexpr char kNothingTicked[] = "没有选择备份文件.....";
inline constexpr char kLocalFolderInvalid[] = "本机备份路径无效";
inline constexpr char kLocalFolderInvalidLine[] = "本机备份路径无效，备份失败！";
inline constexpr char kLocalFolderNotWritable[] = "本机备份路径没有读写权限";
inline constexpr char kLocalFolderNotWritableLine[] = "本机备份路径没有读写权限，备份失败！";
inline constexpr char kBackupFailedRemark[] = "执行备份失败";
inline constexpr char kRecordsOpenFailed[] = "打开日志数据库失败！";
inline constexpr char kSqlConnectFailedRow[] = "连接SQL数据库失败！";
inline constexpr char kSqlConnectFailedLine[] =
    "无法与SQL数据库建立连接，备份失败！导致失败可能的原因为：";
inline constexpr char kJobFailedLine[] =
    "备份数据库过程中发生错误，备份失败！导致失败可能的原因为：";
inline constexpr char kReason[] = "导致失败可能的原因为：";

// SQL editions, per account set.
inline constexpr char kBulkCopyOk[] = "成功选中";
inline constexpr char kBulkCopyFailed[] = "无法选中";
inline constexpr char kBulkCopySuffix[] = "账套数据库的大容量复制选项！";
inline constexpr char kBackupOkPrefix[] = "成功备份";
inline constexpr char kBackupPrefix[] = "备份";
inline constexpr char kBackupDatabase[] = "账套的数据库";
inline constexpr char kTo[] = "到";
inline constexpr char kBackupOkSuffix[] = "目录下！";
inline constexpr char kBackupFailedSuffix[] = "目录下失败！";
inline constexpr char kShrinkOkPrefix[] = "成功设置账套";
inline constexpr char kShrinkFailedPrefix[] = "设置账套";
inline constexpr char kShrinkDatabase[] = "的数据库";
inline constexpr char kShrinkOkSuffix[] = "的自动收缩标记！";
inline constexpr char kShrinkFailedSuffix[] = "的自动收缩标记失败！";
inline constexpr char kTruncOk[] = "成功去除";
inline constexpr char kTruncFailed[] = "无法去除";
inline constexpr char kTruncSuffix[] = "账套数据库，设置在检查点截断日志复选框！";

// File editions, per account set (the lines start with a blank).
inline constexpr char kFileBackupOkPrefix[] = " 账套文件";
inline constexpr char kFileBackupOkSuffix[] = "本机备份成功";
inline constexpr char kFileBackupFailedSuffix[] = "本机备份失败！";
inline constexpr char kSourceGonePrefix[] = " 源账套文件";
inline constexpr char kSourceGoneSuffix[] = "已经不存在，备份失败";

inline constexpr char kLocalFailedPrefix[] = "本机备份失败：";
inline constexpr char kSourceGoneEntry[] = "本机备份失败：源账套已经不存在";
inline constexpr char kResultRowWritten[] = " setlog向数据库写入本机备份日志成功";
// A backup file an earlier, interrupted run left, archived by this run.
inline constexpr char kLeftoverArchivedPrefix[] = "上次中断的备份留下的备份文件";
inline constexpr char kLeftoverArchivedSuffix[] = "已随本次备份压缩，并补记备份日志！";
inline constexpr char kResultRowFailed[] = " setlog向数据库写入本机备份日志失败";
// Any other row of the backup table that could not be written: + the reason.
inline constexpr char kRowFailed[] = " setlog向数据库写入备份日志失败";

inline constexpr char kTrue[] = "TRUE";
inline constexpr char kFalse[] = "False";

// A backup or application folder in which other users may replace files.
inline constexpr char kFolderOpenToOthersPrefix[] = "警告：文件夹";
inline constexpr char kFolderOpenToOthersSuffix[] =
    "允许其他用户放入、删除或替换文件（可写且没有粘滞位），他人可能借此替换本程序使用的文件，"
    "请将其权限改为只有本程序的用户可以写入！";

// Distribution stage.
inline constexpr char kPruneOkPrefix[] = "成功对本地备份目录";
inline constexpr char kPruneFailedPrefix[] = "未能对本地备份目录";
inline constexpr char kPruneAndRemote[] = "与远程共享文件夹";
inline constexpr char kPruneOf[] = "的";
inline constexpr char kPruneOkSuffix[] = "文件执行筛选与删除操作！";
inline constexpr char kPruneFailedSuffix[] = "文件执行筛选与删除操作，备份失败！";
inline constexpr char kRemoteUnreachable[] = "无法访问远程共享文件夹";
inline constexpr char kRemoteUnreachableLine[] = "无法访问远程共享文件夹,备份失败！";
inline constexpr char kRemoteMissing[] = "远程共享文件夹不存在";
inline constexpr char kRemoteMissingLine[] = "远程共享文件夹无效，备份失败！";
inline constexpr char kRemoteFailedRemark[] = "执行远程备份失败";
// This run's archive whose name another agent's file took on the share (the
// same account-set name in the same second): the local archive takes the next
// free second and goes to the share under that name. Around the old and the
// new name, or the old name and (after kReason) why the rename failed.
inline constexpr char kNameTakenPrefix[] = "远程共享文件夹中已有另一程序备份的同名文件";
inline constexpr char kNameTakenRenamed[] = "，本次备份的压缩文件已改名为";
inline constexpr char kNameTakenRenamedSuffix[] = "后再复制！";
inline constexpr char kNameTakenRenameFailed[] = "，本次备份的压缩文件改名失败，未能复制！";
// The own-archive records of a side cannot be read: nothing is deleted there.
// Around the folder; then kReason and the database's reason.
inline constexpr char kOwnListFailedPrefix[] = "读取本程序在";
inline constexpr char kOwnListFailedSuffix[] = "中的备份文件记录失败，不删除其中的任何备份文件！";
inline constexpr char kRemoteUnknownError[] = "复制文件到远程文件夹过程中发生未知错误，复制失败！";

// Compression stage.
inline constexpr char kArchiverMissing[] = "释放Rar.exe文件失败，数据库压缩失败！";
inline constexpr char kBatchFailed[] = "生成RAR压缩批处理失败，压缩失败！";
inline constexpr char kBatchWritten[] = "生成RAR压缩批处理成功！";
inline constexpr char kBatchRunFailed[] = "执行RAR压缩批处理失败，压缩失败！";
inline constexpr char kBatchRan[] = "执行RAR压缩批处理成功！";
inline constexpr char kCompressionError[] = "压缩数据库发生错误，压缩失败！";

// Compression stage, one backup at a time (the stage's own texts).
inline constexpr char kRarNeedsPasswordInArguments[] =
    "没有找到7-"
    "Zip压缩程序，RAR压缩程序只能从命令行接收压缩密码，为保护密码不被他人看到，压缩失败！";
inline constexpr char kArchiveFailedPrefix[] = "压缩备份文件";
inline constexpr char kArchiveFailedSuffix[] = "失败！";
inline constexpr char kArchiveNotMade[] = "压缩程序没有生成压缩文件，命令文件的退出代码为";
inline constexpr char kArchiveTestFailed[] = "压缩文件校验失败，校验程序的退出代码为";
inline constexpr char kArchiveNotFlushed[] = "压缩文件无法写入磁盘";
inline constexpr char kArchiveNotRenamed[] = "压缩文件无法改为正式文件名";
inline constexpr char kArchiveFailedEntryPrefix[] = "压缩失败：";
inline constexpr char kArchiverSaid[] = "，压缩程序报告：";
// The batch's failure line: kBatchRunFailed + kReason + these.
inline constexpr char kBatchExitCode[] = "命令文件的退出代码为";
inline constexpr char kBatchArchivesFailedPrefix[] = "，";
inline constexpr char kBatchArchivesFailedSuffix[] = "个备份文件没有生成可用的压缩文件";
inline constexpr char kPrivateFolderUnusable[] = "程序的私有文件夹无法使用：";

// The run's own texts where the backup could not be what it should.
// The thread's closing line for a run with any failure: + count + suffix.
inline constexpr char kThreadFinishedWithFailuresPrefix[] = "备份线程执行完毕，但有";
inline constexpr char kThreadFinishedWithFailuresSuffix[] =
    "个账套没有完成全部备份步骤，或有备份记录未能写入，详情请查看本日志！";
// An account-set name that cannot be a backup file's name: + name + middle + reason.
inline constexpr char kBadNamePrefix[] = " 账套";
inline constexpr char kBadNameMiddle[] = "的名称不能用作备份文件名，备份失败！";
inline constexpr char kNameLeavesFolder[] =
    "名称含有路径分隔符或者是\".\"、\"..\"，备份文件会离开本机备份路径";
inline constexpr char kNameTooLong[] = "名称过长，本机文件系统无法保存这样长的备份文件名";
inline constexpr char kArchiveFailedRowPrefix[] = "压缩失败：";

// Taking a backup out of its archive for a restore or a test restore.
inline constexpr char kNoArchiverToExtract[] = "找不到解压程序（7-Zip），无法取出备份";
inline constexpr char kExtractFailed[] =
    "无法解压（密码错误或压缩文件已损坏），解压程序的退出代码为";
inline constexpr char kExtractWriteFailed[] = "无法写入取出的备份文件";
inline constexpr char kBackupUnreadable[] = "无法读取备份文件";
inline constexpr char kDigestMismatch[] =
    "取出的备份与备份时记录的校验值不符（SHA-256 或大小不同），备份已损坏";
}  // namespace veltora::engine_msg
