// The Windows command processor is cmd.exe; programs start through
// CreateProcessW with wide command lines, pipes for their standard streams and
// nothing else inherited.
// windows.h first: the other Windows headers need its types.
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <exception>
#include <memory>
#include <vector>

#include "base/path.h"
#include "base/process.h"
#include "base/text.h"
#include "base/wide_text.h"
#include "base/win_handles_win.h"

namespace veltora {
namespace {

// How often the wait looks at the child's output and whether it has ended.
constexpr DWORD kPollMilliseconds = 20;

// Wipes a wide string before it is freed: an environment may hold a secret.
// A local file (not a folder) at the path as given.
bool IsLocalFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void Wipe(std::wstring& text) { std::fill(text.begin(), text.end(), L'\0'); }

// The child's environment block: this program's own with `extra` added or
// replacing entries of the same name (names compare without regard to case,
// as Windows does). Wiped when it goes.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const EnvironmentAdditions& extra) {
    std::vector<std::wstring> additions;
    for (const auto& [name, value] : extra) additions.push_back(Widen(name) + L"=" + Widen(value));
    if (wchar_t* own = ::GetEnvironmentStringsW(); own != nullptr) {
      for (const wchar_t* e = own; *e != L'\0'; e += std::wcslen(e) + 1) {
        const std::wstring_view entry(e);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const auto& pair) {
          const std::wstring name = Widen(pair.first);
          return entry.size() > name.size() && entry[name.size()] == L'=' &&
                 ::CompareStringOrdinal(entry.data(), static_cast<int>(name.size()), name.data(),
                                        static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
        });
        if (!replaced) block_.append(entry).push_back(L'\0');
      }
      ::FreeEnvironmentStringsW(own);
    }
    for (std::wstring& a : additions) {
      block_.append(a).push_back(L'\0');
      Wipe(a);
    }
    block_.push_back(L'\0');
  }
  ~ChildEnvironment() { Wipe(block_); }
  ChildEnvironment(const ChildEnvironment&) = delete;
  ChildEnvironment& operator=(const ChildEnvironment&) = delete;

  wchar_t* get() { return block_.data(); }

 private:
  std::wstring block_;
};

// One argument as the C runtime's command-line parser (CommandLineToArgvW)
// reads it back: quoted when it holds a blank or a quote or is empty, a quote
// escaped with a backslash, backslashes doubled before a quote.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

// An anonymous pipe whose end for the child is inheritable and ours is not.
struct Pipe {
  ScopedKernelHandle read;
  ScopedKernelHandle write;
};

bool MakePipe(Pipe& pipe, bool childReads, DWORD size = 0) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE r = nullptr;
  HANDLE w = nullptr;
  if (!::CreatePipe(&r, &w, &inherit, size)) return false;
  pipe.read.Reset(r);
  pipe.write.Reset(w);
  return ::SetHandleInformation(childReads ? w : r, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

HANDLE OpenNul() {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, OPEN_EXISTING, 0, nullptr);
}

// Feeds a line to the child's input each time its output holds a whole line
// that begins with the cue. A line still unread is not written twice: the
// next reader finds it, and a child that never reads cannot fill the pipe
// and block this thread.
class CueFeeder {
 public:
  CueFeeder(HANDLE input, HANDLE inputReadEnd, std::string cue, std::string line)
      : input_(input), inputReadEnd_(inputReadEnd), cue_(std::move(cue)), line_(std::move(line)) {}
  ~CueFeeder() { std::fill(line_.begin(), line_.end(), '\0'); }
  CueFeeder(const CueFeeder&) = delete;
  CueFeeder& operator=(const CueFeeder&) = delete;

  void Hear(std::string_view chunk) {
    if (input_ == nullptr || cue_.empty()) return;
    for (char c : chunk) {
      if (c == '\n' || c == '\r') {
        if (pending_.rfind(cue_, 0) == 0) Write();
        pending_.clear();
      } else if (pending_.size() < cue_.size() + 64) {
        pending_.push_back(c);
      }
    }
  }

 private:
  void Write() {
    DWORD unread = 0;
    if (!::PeekNamedPipe(inputReadEnd_, nullptr, 0, nullptr, &unread, nullptr) || unread > 0)
      return;
    DWORD written = 0;
    ::WriteFile(input_, line_.data(), static_cast<DWORD>(line_.size()), &written, nullptr);
  }

  HANDLE input_;
  HANDLE inputReadEnd_;
  std::string cue_;
  std::string line_;
  std::string pending_;
};

// A job whose processes are killed when its last handle closes; null when it
// cannot be made.
HANDLE KillOnCloseJob() {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (job == nullptr) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
    ::CloseHandle(job);
    return nullptr;
  }
  return job;
}

// The three standard handles of a child, the only handles it inherits.
struct ChildStreams {
  HANDLE input;
  HANDLE output;
  HANDLE error;
};

// Starts the child hidden with those streams and waits for it, reading its
// output from `outputRead` (when not null) for the listener and the feeder.
// -1 when it cannot be started.
int StartAndWait(const wchar_t* application, std::wstring commandLine, wchar_t* environment,
                 const wchar_t* folder, const ChildStreams& streams, HANDLE outputRead,
                 const OutputListener& listener, CueFeeder* feeder) {
  std::vector<HANDLE> inherited;
  for (HANDLE h : {streams.input, streams.output, streams.error})
    if (std::find(inherited.begin(), inherited.end(), h) == inherited.end()) inherited.push_back(h);
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> storage(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return -1;
  struct AttributeListGuard {
    LPPROC_THREAD_ATTRIBUTE_LIST list;
    ~AttributeListGuard() { ::DeleteProcThreadAttributeList(list); }
  } attributeGuard{attributes};
  if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                   nullptr))
    return -1;

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = streams.input;
  startup.StartupInfo.hStdOutput = streams.output;
  startup.StartupInfo.hStdError = streams.error;
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION process{};
  // Suspended until it is in the job, so that nothing it starts escapes it.
  const DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT |
                      CREATE_SUSPENDED;
  if (!::CreateProcessW(application, commandLine.data(), nullptr, nullptr, TRUE, flags, environment,
                        folder, &startup.StartupInfo, &process))
    return -1;
  const ScopedKernelHandle processHandle(process.hProcess);
  const ScopedKernelHandle threadHandle(process.hThread);
  // The child and everything it starts die with the last handle to the job,
  // which only this process holds: when the program ends, even killed, no
  // archiver goes on writing. A job that cannot be made (an old system that
  // allows no nested job) leaves the child running as before.
  const ScopedKernelHandle job(KillOnCloseJob());
  if (job) ::AssignProcessToJobObject(job.get(), process.hProcess);
  ::ResumeThread(process.hThread);

  if (outputRead != nullptr) {
    std::vector<char> buffer(4096);
    bool listening = static_cast<bool>(listener);
    auto hear = [&](std::string_view chunk) {
      if (feeder != nullptr) feeder->Hear(chunk);
      if (!listening) return;
      try {
        listener(chunk);
      } catch (...) {
        listening = false;
      }
    };
    // Reads what the pipe holds now; false once it has ended.
    auto drain = [&]() {
      for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
        if (!::ReadFile(outputRead, buffer.data(), want, &got, nullptr) || got == 0) return false;
        hear(std::string_view(buffer.data(), got));
      }
    };
    // Polled rather than read blocking: the wait ends when the child ends,
    // even if something it started keeps the pipe open.
    for (;;) {
      if (!drain()) break;
      if (::WaitForSingleObject(process.hProcess, kPollMilliseconds) == WAIT_OBJECT_0) {
        drain();
        break;
      }
    }
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (!::GetExitCodeProcess(process.hProcess, &code)) return -1;
  return static_cast<int>(code);
}

// Runs cmd.exe on the command file; with a cue, its input is fed (CueFeeder).
int RunCommandFile(const std::string& commandFile, const EnvironmentAdditions& extraEnvironment,
                   const OutputListener& output, const std::string& cue, const std::string& line) {
  try {
    const std::string file = Trim(commandFile);
    if (file.empty() || !IsLocalFile(file)) return -1;
    const auto cut = file.find_last_of("\\/");
    if (cut == std::string::npos) return -1;
    const std::string name = file.substr(cut + 1);
    // A drive's root keeps its separator ("C:\").
    const std::string folder = file.substr(0, cut == 2 && file[1] == ':' ? cut + 1 : cut);
    // The name is ours ("rarys.bat"); a name cmd.exe would read as more than a
    // name is refused rather than quoted.
    if (folder.empty() || name.empty() || name.find_first_of("\"%!^&|<>()") != std::string::npos)
      return -1;
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return -1;
    const std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
    const std::wstring commandLine = L"cmd.exe /d /v:off /c \".\\" + Widen(name) + L"\"";
    const std::wstring wideFolder = Widen(folder);
    if (wideFolder.empty()) return -1;

    ChildEnvironment environment(extraEnvironment);
    const ScopedKernelHandle nul(OpenNul());
    if (nul.get() == INVALID_HANDLE_VALUE) return -1;
    Pipe input;
    if (!cue.empty() && !MakePipe(input, true)) return -1;
    Pipe out;
    const bool reading = output || !cue.empty();
    if (reading && !MakePipe(out, false)) return -1;
    CueFeeder feeder(input.write.get(), input.read.get(), cue, line);
    const ChildStreams streams{cue.empty() ? nul.get() : input.read.get(),
                               reading ? out.write.get() : nul.get(), nul.get()};
    return StartAndWait(cmd.c_str(), commandLine, environment.get(), wideFolder.c_str(), streams,
                        reading ? out.read.get() : nullptr, output, &feeder);
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

int RunAndWait(const HeldCommandFile& commandFile, const EnvironmentAdditions& extraEnvironment,
               const OutputListener& output) {
  if (!commandFile.held()) return -1;
  return RunCommandFile(commandFile.path(), extraEnvironment, output, {}, {});
}

int RunAndWaitFeeding(const HeldCommandFile& commandFile,
                      const EnvironmentAdditions& extraEnvironment, const std::string& cue,
                      const std::string& line, const OutputListener& output) {
  if (!commandFile.held()) return -1;
  return RunCommandFile(commandFile.path(), extraEnvironment, output, cue, line);
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               std::string_view input, const OutputListener& output) {
  try {
    const std::wstring application = Widen(Trim(program));
    if (application.empty()) return -1;
    std::wstring commandLine = QuoteArgument(application);
    for (const std::string& a : arguments) {
      bool ok = true;
      const std::wstring wide = Widen(a, &ok);
      if (!ok) return -1;
      commandLine += L" " + QuoteArgument(wide);
    }
    const ScopedKernelHandle nul(OpenNul());
    if (nul.get() == INVALID_HANDLE_VALUE) return -1;
    Pipe in;
    if (!input.empty()) {
      // The whole input fits the pipe, so it is written before the child runs.
      if (!MakePipe(in, true, static_cast<DWORD>(input.size() + 4096))) return -1;
      DWORD written = 0;
      const bool wrote = ::WriteFile(in.write.get(), input.data(), static_cast<DWORD>(input.size()),
                                     &written, nullptr) &&
                         written == input.size();
      in.write.Reset();
      if (!wrote) return -1;
    }
    Pipe out;
    if (output && !MakePipe(out, false)) return -1;
    const ChildStreams streams{input.empty() ? nul.get() : in.read.get(),
                               output ? out.write.get() : nul.get(), nul.get()};
    return StartAndWait(application.c_str(), commandLine, nullptr, nullptr, streams,
                        output ? out.read.get() : nullptr, output, nullptr);
  } catch (const std::exception&) {
    return -1;
  }
}

std::string ShortPathOf(const std::string& path) {
  try {
    const std::wstring wide = Widen(Trim(path));
    if (wide.empty()) return {};
    const DWORD needed = ::GetShortPathNameW(wide.c_str(), nullptr, 0);
    if (needed == 0) return {};
    std::wstring buffer(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(wide.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed) return {};
    buffer.resize(length);
    return Trim(Narrow(buffer));
  } catch (const std::exception&) {
    return {};
  }
}

std::string FindProgramOnPath(const std::string& program, const std::string& searchPath) {
  std::string name = program;
  if (name.empty() || name.find_first_of("\\/:") != std::string::npos) return {};
  if (name.find('.') == std::string::npos) name += ".exe";
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(';', start);
    if (end == std::string::npos) end = searchPath.size();
    std::string folder = Trim(searchPath.substr(start, end - start));
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
      folder = folder.substr(1, folder.size() - 2);
    // Only absolute folders: a drive path or a UNC path.
    const bool absolute =
        (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) ||
        folder.rfind("\\\\", 0) == 0;
    if (absolute) {
      const std::string candidate = JoinPath(folder, name);
      const std::wstring wide = Widen(candidate);
      const DWORD attributes =
          wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return candidate;
    }
    start = end + 1;
  }
  return {};
}

}  // namespace veltora
