// Texts of the settings layer, spelled once: what it writes into the backup
// table (shown to the user in the backup log window, so never reworded), and
// what it says when the settings database cannot be used and how to recover.
#pragma once

namespace veltora::settings_messages {

// bz of a row for one backup copied to the remote share.
inline constexpr char kRemoteCopyRemark[] = "远程备份";
// localbakfile of the row that says nothing reached the share: the remote
// folder immediately followed by this text.
inline constexpr char kRemoteFailureSuffix[] = "远程备份失败";
// bz of that row.
inline constexpr char kRemoteFailureRemark[] = "具体原因请查看程序运行日志文件";

// Defects of a settings database file, each followed by the table name or the
// count.
inline constexpr char kMissingTable[] = "the settings database lacks the table ";
inline constexpr char kSettingsRowCount[] =
    "the settings table bakset should hold one row, it holds ";
// Followed by the first line PRAGMA integrity_check answered.
inline constexpr char kIntegrityCheckFailed[] = "integrity check failed: ";
inline constexpr char kFileMissing[] = "the file does not exist";

// What is wrong, each followed by the path of the database file and, where
// it has one, a detail in parentheses.
inline constexpr char kProblemMissing[] = "there is no settings database ";
inline constexpr char kProblemDamaged[] = "the file is not a valid settings database: ";
inline constexpr char kProblemUnreadable[] = "cannot open the settings database ";
inline constexpr char kProblemNotWritable[] = "cannot open the settings database for writing: ";
// Followed by the folder.
inline constexpr char kProblemFolderReadOnly[] =
    "cannot open the settings database for writing, the application folder is read-only "
    "for this user: ";
// A problem elsewhere, followed by the folder, ": " and the error text.
inline constexpr char kProblemOther[] = "cannot read the settings in ";

// What to do, on the line after the problem. Where a spare copy is valid, the
// advice starts with kSpareValid and its path.
inline constexpr char kSpareValid[] = "the spare copy ";
inline constexpr char kAdviseRestoreDamaged[] =
    " is valid: run 'veltora-cli restore-settings' to put it back (the damaged file is kept "
    "under a new name)";
inline constexpr char kAdviseRestoreMissing[] =
    " is valid: run 'veltora-cli restore-settings' to put it back, or 'veltora-cli init' to "
    "start with empty settings";
inline constexpr char kAdviseInit[] = "run 'veltora-cli init' to write a new, empty one";
// Followed by why the spare copy is no good, then kAdviseMoveAsideTail.
inline constexpr char kAdviseMoveAsideHead[] = "there is no valid spare copy either (";
inline constexpr char kAdviseMoveAsideTail[] =
    "): move the damaged file aside and run 'veltora-cli init' to start with empty settings";
inline constexpr char kAdvisePermissions[] = "check that this user may read and write the file";
inline constexpr char kAdviseFolder[] =
    "give this user write access to the folder, or name another one with --app-dir";

// restore-settings refuses; each followed by the path and, where it has one,
// the detail in parentheses.
inline constexpr char kRestoreNoSpare[] = "there is no spare copy to restore: ";
inline constexpr char kRestoreSpareInvalid[] =
    "the spare copy is not a valid settings database, nothing was changed: ";
inline constexpr char kRestoreLiveValid[] =
    "the settings database is valid, nothing was changed (restore-settings only replaces a "
    "missing or damaged one): ";
// restore-settings failed half-way; followed by the system's error text.
inline constexpr char kRestoreFailed[] = "could not put the spare copy back: ";
// restore-settings succeeded: the restored path, then where the old file went.
inline constexpr char kRestored[] = "已用备用副本恢复设置数据库 ";
inline constexpr char kKeptAside[] = "原文件已改名保存为 ";

}  // namespace veltora::settings_messages
