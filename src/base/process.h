// Starting processes: running a command file through the platform's command
// processor, running a program with its input fed through a pipe, the short
// path form and finding a program on a PATH. This
// is the only place that starts a process; each platform has its own
// implementation file beside this header.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/owner_only_file.h"

namespace veltora {

// Name-value pairs added to (or replacing entries of) the program's own
// environment for one child process.
using EnvironmentAdditions = std::vector<std::pair<std::string, std::string>>;

// Hears what a child writes to its standard output, chunk by chunk as it
// arrives (a chunk may end in the middle of a line or a character), on the
// thread that waits for the child. An exception it throws is swallowed and it
// hears nothing more; the output is still read to the end, so the child never
// blocks on a full pipe.
using OutputListener = std::function<void(std::string_view chunk)>;

// Runs the held command file through the platform's command processor and
// waits for it without a time-out. Returns the command processor's exit code,
// or -1 when it cannot be started (the file is not held, the process cannot be
// created). `extraEnvironment` reaches the command processor only, never its
// command line, so a secret passed there is not visible to other users.
// `output` hears the command processor's standard output (and so that of the
// programs the file runs); without it the output is discarded.
//
// POSIX: /bin/sh reads the file through the held descriptor (as /dev/fd/3),
// never by its name; stdin and stderr are /dev/null, stdout too unless
// `output` listens; no other descriptor of this program is inherited; a run
// ended by a signal answers 128 + the signal number. The child is always
// reaped, and the wait ends when the child ends even if something it left
// behind keeps its output open.
//
// Windows: cmd.exe from the system folder runs the file (/d: no AutoRun
// commands; /v:off: "!" is no variable's mark), started with the file's folder
// as its current folder so that its command line holds the file's name only
// (no path of the user's on a command line that cmd.exe would expand), with no
// window and no handle of this program but the three standard ones; stdin and
// stderr are NUL, stdout too unless `output` listens. A local file's folder
// only: cmd.exe cannot run in a UNC folder.
int RunAndWait(const HeldCommandFile& commandFile,
               const EnvironmentAdditions& extraEnvironment = {},
               const OutputListener& output = {});

// Runs `program` with `arguments` directly (no command processor), `input` on
// its standard input, and waits for it. Its standard output goes to `output`,
// or is discarded without a listener; its standard error is discarded. Returns
// its exit code, 128 + the signal number when a signal ended it, or -1 when it
// cannot be started. The input travels through a pipe, never the command line,
// so a password given there is not visible to other users.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string_view input = {}, const OutputListener& output = {});

#ifdef _WIN32
// RunAndWait, with the command processor's standard input fed: `line` is
// written to it each time a whole line of the output begins with `cue`. The
// programs the file runs share that input, and one that reads it buffered
// takes all that is there, so a line is only there once the file has
// announced the program that is to read it. A line still unread when the
// next cue comes is not written again (the next reader takes it); what is
// not read is dropped.
int RunAndWaitFeeding(const HeldCommandFile& commandFile,
                      const EnvironmentAdditions& extraEnvironment, const std::string& cue,
                      const std::string& line, const OutputListener& output = {});
#endif

// The short (8.3) form of the trimmed path; empty for an empty path or when the
// conversion fails. POSIX has no short names: the answer is the trimmed path
// itself, blanks included; the command file quotes every path instead.
std::string ShortPathOf(const std::string& path);

// The first executable regular file called `program` in the directories of
// `searchPath` (a PATH value, entries separated by ':' on POSIX, ';' on
// Windows, where ".exe" is added to a name without extension), or empty.
// Empty and relative entries are skipped: the current folder is never searched.
std::string FindProgramOnPath(const std::string& program, const std::string& searchPath);

}  // namespace veltora
