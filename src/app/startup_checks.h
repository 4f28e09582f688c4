// The checks an agent or window makes before it does anything else: where it
// runs from, who runs it, and whether another one already serves the
// application folder. Each answers the text to show the user when it refuses,
// or an empty text when start-up may go on; showing the text and ending the
// program is the caller's part.
#pragma once

#include <memory>
#include <string>

#include "app/single_instance.h"

namespace veltora {

// The command file and the older tools the program drives break on a blank in
// a path, so an executable whose full path holds one (' ' only, anywhere)
// refuses to start.
std::string RefuseBlankInPath(const std::string& executablePath);

// True when the process may change the machine-wide settings it needs:
// POSIX, an effective user id of 0 (a set-uid or sudo start counts, a real id
// of 0 that dropped its effective id does not); Windows, membership of the
// built-in Administrators group in the token (the thread's when it
// impersonates), whatever its attributes: a token that User Account Control
// filtered, where the group is present for denial only, counts too.
bool IsAdministrator();
// The refusal for a user without those rights; empty for an administrator.
std::string RefuseNonAdministrator();

// Makes `folder` the process's current folder; false (and the current folder
// unchanged) when it cannot be entered. The window program enters its
// executable's folder at start-up: every start then sees the same current
// folder whatever shortcut started it, and the program never keeps the folder
// it was started from in use (on Windows a current folder cannot be removed,
// nor its drive ejected).
bool MakeCurrentFolder(const std::string& folder);

// One agent per application folder. On success `lock` holds the folder's
// instance lock until the caller lets it go (for the whole life of the agent)
// and the answer is empty. Another holder gives the refusal "您好，程序已经运行…";
// a lock that cannot be taken for any other reason (a missing or unreadable
// application folder, a lock file that cannot be opened) is no second agent:
// the answer then says the folder cannot be used, and `fault` is set, as a
// later start may succeed. A lock file that is not ours (a planted link or
// another user's file, see AppFolderLock) is a fault too, with its own answer
// "锁文件veltora.lock不是本程序的锁文件…". `detail` says what the lock itself reported, for
// the caller's own log. `heldElsewhere`, when given, is set for the refusal
// because another process holds the lock (and for that alone).
std::string ClaimSingleInstance(const std::string& appFolder, std::unique_ptr<AppFolderLock>& lock,
                                std::string& detail, bool& fault, bool* heldElsewhere = nullptr);

}  // namespace veltora
