// The file layer's texts, spelled once: the run-log lines of the retention and
// of the copy to the share, and the reasons of failed copies. The half-width
// "!" in "成功!" and the half-width commas in the two "没有文件需要…" lines
// are meant: the lines read exactly so.
#pragma once

namespace veltora::files_msg {

// The run-log line for a refused share connection, around the user name, the
// share path and the code.
inline constexpr char kConnectFailedUser[] = "您好，程序尝试用用户名为:";
inline constexpr char kConnectFailedShare[] = "的用户，建立与远程共享文件夹";
inline constexpr char kConnectFailedCode[] = "的连接但操作失败，错误代码为:";
inline constexpr char kConnectFailedEnd[] = ",请将这个错误代码告知开发人员，谢谢您的合作！";

// Retention.
// A name that the share cannot take.
inline constexpr char kNameNotUtf8[] = "文件名不是有效的UTF-8文本，共享文件夹无法使用这样的文件名";
inline constexpr char kPruneBadArguments[] = "文件比较参数有误，比较或筛选文件失败！";
inline constexpr char kPruneCannotConnect[] =
    "程序无法访问远程共享文件夹，请检查您的网络是否正常，以及您输入的访问帐号是否有误，"
    "比较或筛选文件失败！";
inline constexpr char kPruneRemoteMissing[] = "远程共享文件夹无效，比较或筛选文件失败！";
inline constexpr char kPruneRemoteNotWritable[] =
    "远程共享文件夹没有读写的权限，比较或筛选文件失败！";
inline constexpr char kPruneLocalMissing[] = "本地备份文件夹无效，比较或筛选文件失败！";
inline constexpr char kPruneLocalNotWritable[] =
    "本地备份文件夹没有读写的权限，比较或筛选文件失败！";
inline constexpr char kListLocalFailedPrefix[] = "获取本地备份文件夹";
inline constexpr char kListRemoteFailedPrefix[] = "获取远程共享文件夹";
inline constexpr char kListFailedMiddle[] = "下的";
inline constexpr char kListFailedSuffix[] = "文件信息失败，比较或筛选文件失败！";
inline constexpr char kDeleteRemotePrefix[] =
    "本地备份文件夹中的文件数量加上远程共享文件夹中备份文件的数量大于额定数量，"
    "删除远程共享文件夹中的备份文件";
inline constexpr char kDeleteLocalPrefix[] =
    "本地备份文件夹中的文件数量加上远程共享文件夹中备份文件的数量大于额定数量，"
    "删除本地共享文件夹中的备份文件";
inline constexpr char kDeleteOk[] = "成功!";
inline constexpr char kDeleteFailed[] = "失败，比较或筛选文件失败！";
inline constexpr char kPruneError[] = "比较或筛选文件过程中发生错误，筛选失败！";
// What the pruning leaves alone: "本地备份文件夹" or "远程共享文件夹", then the
// folder, the count and the mask of another agent's backups; or the side,
// kFutureFile, a file's path stamped later than now and kFutureSuffix.
inline constexpr char kLocalSidePrefix[] = "本地备份文件夹";
inline constexpr char kRemoteSidePrefix[] = "远程共享文件夹";
inline constexpr char kForeignMiddle[] = "中有";
inline constexpr char kForeignCount[] = "个";
inline constexpr char kForeignSuffix[] =
    "文件不是本程序备份的（可能来自另一台计算机或另一个程序目录），已保留，不参与筛选与删除！";
inline constexpr char kFutureFile[] = "中的备份文件";
inline constexpr char kFutureSuffix[] = "的备份时间晚于当前时间，已保留，不参与筛选与删除！";

// Copy to the share.
inline constexpr char kCopyBadArguments[] = "复制参数有误，复制失败！";
inline constexpr char kCopyCannotConnect[] =
    "程序无法访问远程共享文件夹，请检查您的网络是否正常，以及您输入的访问帐号是否有误，"
    "文件复制失败！";
inline constexpr char kCopyRemoteMissing[] = "远程共享文件夹无效！";
inline constexpr char kCopyRemoteNotWritable[] = "远程共享文件夹没有读写的权限，文件复制失败！";
inline constexpr char kCopyNothingToMove[] = "没有文件需要移动到远程共享文件夹,复制失败！";
inline constexpr char kCopyInternalError[] = "复制过程中发生内部错误，复制失败！";
inline constexpr char kCopyNothingToCopy[] = "没有文件需要复制到远程共享文件夹,复制失败！";
inline constexpr char kCopyOkPrefix[] = "成功将";
inline constexpr char kCopyFailedPrefix[] = "无法将";
inline constexpr char kCopyTo[] = "复制到";
inline constexpr char kCopySuffix[] = "目录下！";
inline constexpr char kCopyUnknownError[] = "复制过程中发生未知错误，复制失败！";
// A failed copy's or deletion's line carries its reason after this; so does the line that
// follows a refused connection when the share client cannot work at all.
inline constexpr char kFailureReason[] = "导致失败可能的原因为：";
inline constexpr char kNameNotForShare[] =
    "文件名含有远程共享文件夹不能保存的字符（\\ / : * ? \" < > |）或者过长";

// Reasons a file operation gives (FileOutcome::error) besides the operating
// system's own words; the backup job writes them into its failure lines.
inline constexpr char kNotARegularFile[] = "not a regular file";
inline constexpr char kNotSupported[] = "not supported by this file system";
inline constexpr char kNotAFile[] = "not a file";
inline constexpr char kNoSuchFile[] = "no such file";
inline constexpr char kNoShareFileSystem[] = "no file system serves share paths";
inline constexpr char kUnusablePath[] = "not a path of this file system";
inline constexpr char kSourceChanged[] = "the source file changed size while it was being copied";
inline constexpr char kCopySizeDiffers[] = "the copy on the share does not have the source's size";
inline constexpr char kCopyBytesDiffer[] = "the copy on the share differs from the source";
// Before the library's file name, ": " and the loader's words, when the share
// client cannot be loaded.
inline constexpr char kCannotLoadLibrary[] = "cannot load ";

}  // namespace veltora::files_msg
