// The run log: the plain-text diary beside the executable into which every part
// of the agent writes one time-stamped line per event. The program never shows
// the file; it is there for the user or a support person to read.
//
// Line layout: "在YYYY-MM-DD HH:NN:SS DDD :" immediately followed by the message
// and CR LF. DDD is the short Chinese weekday name from a fixed table (周日 ..
// 周六), whatever the C library's locale, so that a log in one encoding never
// gets a line in another. The file is UTF-8 on POSIX (GBK on Windows), without
// a byte-order mark; it only ever grows by appended lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "base/line_log.h"

namespace veltora {

// Appends one line to the file at the path (blanks and control characters at
// both ends of the path are dropped; an empty path writes nothing). An existing
// file is made writable first (u+w), so a read-only log still takes the line.
// startNew empties the file before the line; stamp puts the time stamp, read
// from the clock, in front of the message. The message is always one physical
// line: its control characters are written out as ShowControlCharacters does
// ("\n", "\t", "\xNN"), as it often carries names and reasons from outside;
// an empty one leaves the stamp alone on its line.
// What the path names is never followed or widened: a symbolic link, a file
// with a second name (a hard link), a folder or a FIFO there takes no line and
// no mode change, and the call answers false.
// The whole line reaches the file in one append-mode write, so another process
// writing the same file at the same moment can interleave whole lines at worst.
// True when the line was written and the file exists afterwards; any failure
// (empty path, folder not writable, disk full) drops the line and answers false.
// Never throws.
bool AppendRunLog(const std::string& path, const std::string& message, bool startNew, bool stamp,
                  const Clock& clock) noexcept;

// One line of the run-log file (without its line end) as UTF-8: the file's
// own bytes on POSIX, converted from GBK on Windows.
std::string RunLogLineAsUtf8(std::string_view line);

// The stamp "在YYYY-MM-DD HH:NN:SS DDD :" for a local time.
std::string RunLogStamp(const LocalTime& t);

// The day ("yyyy-mm-dd") of the newest line among the log's last 64 KiB whose
// message begins with `messagePrefix`; empty when there is none or the file
// cannot be read. Lets a restarted process see what an earlier one said
// today. Never throws.
std::string LastDayOfRunLogLine(const std::string& path, std::string_view messagePrefix) noexcept;

// Reads the creation time of a file as GetFileDate(path, FileTime::kCreation)
// does; -1.0 when it cannot be read. Injected by tests.
using CreationTimeReader = std::function<DateTime(const std::string& path)>;

// Deletes the log once it is more than 30 months of 30.4375 days old (either
// direction), i.e. at least 943.5625 days. The whole file goes; the next line
// starts a new one. Age is the creation (birth) time, not the last write, so a
// log written daily still goes once it is old enough. Where the creation time
// cannot be read (a file system without birth times), the stamp of the file's
// first line ("在YYYY-MM-DD HH:NN:SS ...") stands for it; when neither can be
// read, the log stays: a log whose age is unknown is never deleted.
// `creationTime` empty reads the file's own creation time.
// True when the file is absent, young, or was deleted; false when its age is
// unknown, the deletion failed, or anything else went wrong. Never throws.
bool RotateRunLog(const std::string& path, const Clock& clock,
                  const CreationTimeReader& creationTime = {}) noexcept;

// Seconds as "H时M分S秒": hours not limited to 24 (there is no day part),
// minutes and seconds 0..59, no leading zeros. 0 gives "0时0分0秒".
std::string DurationText(std::uint64_t seconds);

// How long the system has been running, as a duration text. On POSIX this is
// CLOCK_BOOTTIME (suspend included), which does not wrap. "0时0分0秒" when the
// clock cannot be read.
std::string UptimeText();

// How long since the last user input, as a duration text. On POSIX: the time
// since the newest access or modification time among the input devices
// /dev/input/event*, the virtual consoles /dev/tty[0-9]* and the pseudo
// terminals /dev/pts/* (not the multiplexer /dev/pts/ptmx). Writing to a
// terminal counts as activity too, so this errs towards "recently active".
// "0时0分0秒" when none of them can be read or the newest time lies in the future.
std::string IdleText();

// The run log of one process, the LineLog every subsystem writes through.
// Writers of this process are serialised, so no line is ever dropped or mixed
// between threads; the rotation takes the same lock, so it never deletes the
// file under a line being written. Another process writing the same file may
// still interleave its whole lines with ours.
class RunLog final : public LineLog {
 public:
  // Called with each stamped line (without CR LF) as it is appended, in file
  // order, whether or not the file took it. Runs under the writers' lock: it
  // must not write to this RunLog itself. An exception from it is swallowed.
  using Listener = std::function<void(std::string_view stampedLine)>;

  // An empty path makes every Append a no-op for the file (the listener still
  // hears the lines). The clock must outlive the RunLog. `creationTime` is
  // what Rotate reads the log's creation time with (empty: the file's own).
  RunLog(std::string path, const Clock& clock, CreationTimeReader creationTime = {});

  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Stamps and appends one line through AppendRunLog, its control characters
  // written out (the listener hears the same). Never throws.
  void Append(std::string_view message) override;

  // RotateRunLog on this log's path.
  bool Rotate();

  // Replaces the listener; an empty function removes it.
  void SetListener(Listener listener);

  const std::string& path() const { return path_; }

 private:
  const std::string path_;
  const Clock& clock_;
  const CreationTimeReader creationTime_;
  std::mutex mutex_;
  Listener listener_;
};

namespace internal {

// Platform primitive behind AppendRunLog (run_log_posix.cpp): creates or opens
// the file without following a link, refuses anything but a regular file with
// one name, makes it writable through what it opened, empties it when startNew,
// writes the bytes in one append and closes it. True when all of that worked
// and the file exists afterwards.
bool WriteRunLogBytes(const std::string& path, std::string_view bytes, bool startNew);

// The file's first line (without its line end), at most `limit` bytes of it,
// as UTF-8; empty when it cannot be read.
std::string ReadRunLogFirstLine(const std::string& path, std::size_t limit);

}  // namespace internal

}  // namespace veltora
