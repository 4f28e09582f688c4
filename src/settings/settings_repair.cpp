#include "settings/settings_repair.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/date_time.h"
#include "base/fs_path.h"
#include "base/owner_only_file.h"
#include "base/path.h"
#include "settings/messages.h"
#include "settings/rename_no_replace.h"
#include "settings/settings_database.h"
#include "settings/sqlite_support.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
namespace m = settings_messages;

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(PathFromUtf8(path), ec));
}

std::string RandomSuffix() {
  std::random_device random;
  char unique[24];
  std::snprintf(unique, sizeof unique, "%08x%08x", random(), random());
  return unique;
}

// SQLite's texts from the open helpers end in ": " + path; the messages name
// the file themselves.
std::string WithoutPath(std::string text, const std::string& path) {
  const std::string suffix = ": " + path;
  if (text.size() >= suffix.size() &&
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
    text.erase(text.size() - suffix.size());
  return text;
}

struct Defect {
  bool unopenable = false;
  std::string text;  // empty: valid
};

Defect InspectSettingsFile(const std::string& path) {
  if (!Exists(path)) return {true, m::kFileMissing};
  ScopedSqlite db;
  try {
    db = sqlite::OpenForInspection(path);
  } catch (const std::exception& e) {
    return {true, WithoutPath(e.what(), path)};
  }
  try {
    {
      sqlite::Statement check(db.get(), "PRAGMA integrity_check");
      const std::string first = check.Step() ? check.Text(0) : std::string();
      if (first != "ok") return {false, m::kIntegrityCheckFailed + first};
    }
    for (const char* table : kSettingsTables)
      if (!sqlite::HasTable(db.get(), table)) return {false, m::kMissingTable + std::string(table)};
    sqlite::Statement count(db.get(), "select count(*) from bakset");
    const std::int64_t rows = count.Step() ? count.Int64(0) : 0;
    if (rows != 1) return {false, m::kSettingsRowCount + std::to_string(rows)};
  } catch (const std::exception& e) {
    return {false, e.what()};
  }
  return {};
}

// Whether a new file can be made in folder: the test that tells a read-only
// folder from a file that refuses writing.
bool FolderTakesNewFiles(std::string_view folder) {
  const std::string probe = JoinPath(folder, ".veltora-probe-" + RandomSuffix());
  try {
    CreateOwnerOnlyFile(probe);
  } catch (const std::exception&) {
    return false;
  }
  sqlite::RemoveQuietly(probe);
  return true;
}

std::string InParentheses(const std::string& detail) {
  return detail.empty() ? std::string() : " (" + detail + ")";
}

// The files moved so far, undone in reverse when a later step fails.
class Moves {
 public:
  ~Moves() {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
      try {
        RenameNoReplace(it->second, it->first);
      } catch (const std::exception&) {
        // Left under its new name: nothing is lost, only moved.
      }
    }
  }
  void Move(const std::string& from, const std::string& to) {
    if (!RenameNoReplace(from, to))
      throw std::runtime_error("cannot rename " + from + " to " + to + ": " +
                               std::make_error_code(std::errc::file_exists).message());
    done_.emplace_back(from, to);
  }
  void Keep() { done_.clear(); }

 private:
  std::vector<std::pair<std::string, std::string>> done_;
};

// A name for the replaced file under which neither it nor a journal file exists.
std::string FreeAsideName(const std::string& live, const std::string& stamp) {
  const std::string base = live + ".broken-" + stamp;
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
    bool taken = Exists(name);
    for (const char* suffix : sqlite::kCompanionSuffixes) taken = taken || Exists(name + suffix);
    if (!taken) return name;
  }
}

}  // namespace

std::string FindSettingsFileDefect(const std::string& path) {
  return InspectSettingsFile(path).text;
}

SettingsDiagnosis DiagnoseSettingsDatabase(std::string_view appFolder) {
  SettingsDiagnosis d;
  d.folder = std::string(appFolder);
  d.path = ResolveSettingsDatabasePath(appFolder);
  d.sparePath = SpareCopyPath(appFolder);
  if (!Exists(d.path)) {
    d.fault = SettingsFault::kMissing;
  } else if (const Defect defect = InspectSettingsFile(d.path); !defect.text.empty()) {
    d.fault = defect.unopenable ? SettingsFault::kUnreadable : SettingsFault::kDamaged;
    d.detail = defect.text;
  } else {
    try {
      SettingsDatabase db(appFolder);
      return d;  // kNone
    } catch (const std::exception& e) {
      d.fault = FolderTakesNewFiles(appFolder) ? SettingsFault::kNotWritable
                                               : SettingsFault::kFolderReadOnly;
      d.detail = WithoutPath(e.what(), d.path);
    }
  }
  d.spareDefect = FindSettingsFileDefect(d.sparePath);
  d.spareValid = d.spareDefect.empty();
  return d;
}

std::string DescribeSettingsProblem(const SettingsDiagnosis& d, std::string_view errorText) {
  std::string problem;
  std::string advice;
  switch (d.fault) {
    case SettingsFault::kNone:
      return m::kProblemOther + d.folder + ": " + std::string(errorText);
    case SettingsFault::kMissing:
      problem = m::kProblemMissing + d.path;
      advice = d.spareValid ? m::kSpareValid + d.sparePath + m::kAdviseRestoreMissing
                            : std::string(m::kAdviseInit);
      break;
    case SettingsFault::kDamaged:
      problem = m::kProblemDamaged + d.path + InParentheses(d.detail);
      advice = d.spareValid ? m::kSpareValid + d.sparePath + m::kAdviseRestoreDamaged
                            : m::kAdviseMoveAsideHead + d.spareDefect + ": " + d.sparePath +
                                  m::kAdviseMoveAsideTail;
      break;
    case SettingsFault::kUnreadable:
      problem = m::kProblemUnreadable + d.path + InParentheses(d.detail);
      advice = m::kAdvisePermissions;
      break;
    case SettingsFault::kFolderReadOnly:
      problem = m::kProblemFolderReadOnly + d.folder + InParentheses(d.detail);
      advice = m::kAdviseFolder;
      break;
    case SettingsFault::kNotWritable:
      problem = m::kProblemNotWritable + d.path + InParentheses(d.detail);
      advice = m::kAdvisePermissions;
      break;
  }
  return problem + "\n" + advice;
}

RestoreOutcome RestoreSpareCopy(std::string_view appFolder, const Clock& clock) {
  const std::string spare = SpareCopyPath(appFolder);
  if (!Exists(spare)) throw std::runtime_error(m::kRestoreNoSpare + spare);
  if (const std::string defect = FindSettingsFileDefect(spare); !defect.empty())
    throw std::runtime_error(m::kRestoreSpareInvalid + spare + InParentheses(defect));

  RestoreOutcome outcome;
  // The file in place keeps its spelling, so its journal files stay its own.
  const std::string live = ResolveSettingsDatabasePath(appFolder);
  const bool liveExists = Exists(live);
  if (liveExists && FindSettingsFileDefect(live).empty())
    throw std::runtime_error(m::kRestoreLiveValid + live);
  outcome.restoredPath = live;

  try {
    // The whole copy first: should the folder refuse it, nothing has moved.
    const std::string temp = live + ".restore-" + RandomSuffix() + ".tmp";
    {
      ScopedSqlite source = sqlite::OpenForInspection(spare);
      sqlite::BackupInto(source.get(), temp, kSettingsBusyTimeout);
    }
    try {
      Moves moves;
      const std::string aside = FreeAsideName(live, BackupStamp(clock.LocalNow()));
      // A journal left beside the restored file would be played back onto it,
      // so the old file's journals go aside with it; the shared-memory index
      // holds nothing of its own and is rebuilt.
      for (const char* suffix : {"-wal", "-journal"})
        if (Exists(live + suffix)) moves.Move(live + suffix, aside + suffix);
      if (liveExists) moves.Move(live, aside);
      sqlite::RemoveQuietly(live + "-shm");
      moves.Move(temp, live);
      moves.Keep();
      if (liveExists) outcome.keptAsidePath = aside;
    } catch (...) {
      sqlite::RemoveQuietly(temp);
      throw;
    }
  } catch (const std::exception& e) {
    throw std::runtime_error(m::kRestoreFailed + std::string(e.what()));
  }
  return outcome;
}

}  // namespace veltora
