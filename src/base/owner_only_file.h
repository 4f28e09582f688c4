// Files that only their owner may read and write. The settings database holds
// passwords in plain text, and the archiver's command file the archive
// password, so they are created owner-only from the first byte rather than
// tightened afterwards. On Windows such a file gets an access list of the user
// this process runs as and SYSTEM alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veltora {

// Creates an empty file readable and writable by its owner only. Fails (throws
// std::runtime_error) when anything already exists at the path, so that two
// writers can never share one new file.
void CreateOwnerOnlyFile(const std::string& path);

// Restricts an existing file to its owner (read and write); throws on failure.
void MakeOwnerOnly(const std::string& path);

// Creates `path` anew, readable and writable by its owner only from its first
// byte, and writes `content` to it. Fails when anything (a file, a link) is
// already there, so the caller removes a leftover first; a partly written file
// is removed again. Returns false on any failure.
bool WriteOwnerOnlyFile(const std::string& path, std::string_view content);

// A command file this program wrote and holds until it has run (RunAndWait).
// It is created anew (a file or a link already at the path is an error),
// owner-only from its first byte, and stays open:
// - POSIX: the shell reads it through the open descriptor, so the name it was
//   written under is never looked up again, and a file that another user puts
//   there in the meantime is never run.
// - Windows: cmd.exe runs a file only by its name, so the file is held open
//   without delete sharing and its access list lets nobody else write it:
//   while it is held nobody can change, rename or replace it, nor rename the
//   folder it lies in.
class HeldCommandFile {
 public:
  HeldCommandFile() = default;
  ~HeldCommandFile();
  HeldCommandFile(const HeldCommandFile&) = delete;
  HeldCommandFile& operator=(const HeldCommandFile&) = delete;

  // False on any failure, with nothing left at the path.
  bool Write(const std::string& path, std::string_view content);
  bool held() const { return handle_ != kNone; }
  const std::string& path() const { return path_; }
  // The platform's handle: a descriptor on POSIX, a HANDLE on Windows.
  std::intptr_t handle() const { return handle_; }

 private:
  static constexpr std::intptr_t kNone = -1;  // also INVALID_HANDLE_VALUE
  std::string path_;
  std::intptr_t handle_ = kNone;
};

// Makes `path` a folder that only this program's user can enter: created
// owner-only when missing; an existing one must be a real folder (not a link)
// owned by this user, and is restricted to it again. False with the reason
// otherwise.
bool MakePrivateFolder(const std::string& path, std::string& reason);

}  // namespace veltora
