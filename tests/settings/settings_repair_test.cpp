#include "settings/settings_repair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "settings/raw_db.h"
#include "settings/settings_database.h"
#include "support/fakes.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using ::veltora::testing::FixedClock;
using ::veltora::testing::RawDb;
using ::veltora::testing::ReadFile;
using ::veltora::testing::TempDir;
using ::veltora::testing::WriteFile;

constexpr char kSchema[] = VELTORA_SETTINGS_SCHEMA;

// An application folder whose settings database has one backup row in its
// spare copy and a second one written after the copy was made.
class SettingsRepairTest : public ::testing::Test {
 protected:
  SettingsRepairTest() {
    CreateSettingsDatabase(kSchema, Live());
    SettingsDatabase db(dir_.str());
    db.InsertRemoteFailure("in the copy ");
    db.MakeSpareCopy();
    db.InsertRemoteFailure("after the copy ");
  }

  std::string Live() const { return dir_ / "Setlog.dll"; }
  std::string Spare() const { return dir_ / "setlog.dlb"; }

  // Every file of the folder with its bytes.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
      files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
  }

  TempDir dir_;
  FixedClock clock_{LocalTime{2024, 5, 1, 1, 30, 0, 3}};
};

void Garbage(const std::string& path) {
  WriteFile(path, "this is no database, just text that is long enough to look like one");
}

TEST_F(SettingsRepairTest, DiagnosisNamesWhatIsWrongWithTheFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    SettingsFault fault;
    const char* detail;
  };
  const Case cases[] = {
      {"healthy", [](const std::string&) {}, SettingsFault::kNone, ""},
      {"missing", [](const std::string& p) { fs::remove(p); }, SettingsFault::kMissing, ""},
      {"text", Garbage, SettingsFault::kDamaged, "file is not a database"},
      {"empty", [](const std::string& p) { WriteFile(p, ""); }, SettingsFault::kDamaged,
       "the settings database lacks the table bakset"},
      {"truncated", [](const std::string& p) { fs::resize_file(p, 4096 + 100); },
       SettingsFault::kDamaged, "database disk image is malformed"},
      {"no account list", [](const std::string& p) { RawDb(p).Exec("drop table accountlist"); },
       SettingsFault::kDamaged, "the settings database lacks the table accountlist"},
      {"no settings row", [](const std::string& p) { RawDb(p).Exec("delete from bakset"); },
       SettingsFault::kDamaged, "the settings table bakset should hold one row, it holds 0"},
      {"two settings rows",
       [](const std::string& p) { RawDb(p).Exec("insert into bakset select * from bakset"); },
       SettingsFault::kDamaged, "the settings table bakset should hold one row, it holds 2"},
  };
  const std::string pristine = ReadFile(Live());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Live(), pristine);
    c.damage(Live());
    const auto before = Files();

    const SettingsDiagnosis d = DiagnoseSettingsDatabase(dir_.str());

    EXPECT_EQ(d.fault, c.fault);
    EXPECT_EQ(d.detail, c.detail);
    EXPECT_EQ(d.path, Live());
    EXPECT_EQ(FindSettingsFileDefect(Live()), c.fault == SettingsFault::kMissing
                                                  ? std::string("the file does not exist")
                                                  : std::string(c.detail));
    if (c.fault != SettingsFault::kNone) {
      EXPECT_TRUE(d.spareValid) << d.spareDefect;
      EXPECT_EQ(Files(), before) << "looking changed the folder";
    }
  }
}

TEST(SettingsProblemText, SaysWhatIsWrongAndWhatToDo) {
  SettingsDiagnosis d;
  d.folder = "/app";
  d.path = "/app/Setlog.dll";
  d.sparePath = "/app/setlog.dlb";
  struct Case {
    SettingsFault fault;
    const char* detail;
    bool spareValid;
    const char* text;
  };
  const Case cases[] = {
      {SettingsFault::kNone, "", false, "cannot read the settings in /app: disk I/O error"},
      {SettingsFault::kMissing, "", false,
       "there is no settings database /app/Setlog.dll\n"
       "run 'veltora-cli init' to write a new, empty one"},
      {SettingsFault::kMissing, "", true,
       "there is no settings database /app/Setlog.dll\n"
       "the spare copy /app/setlog.dlb is valid: run 'veltora-cli restore-settings' to put it "
       "back, or 'veltora-cli init' to start with empty settings"},
      {SettingsFault::kDamaged, "file is not a database", true,
       "the file is not a valid settings database: /app/Setlog.dll (file is not a database)\n"
       "the spare copy /app/setlog.dlb is valid: run 'veltora-cli restore-settings' to put it "
       "back (the damaged file is kept under a new name)"},
      {SettingsFault::kDamaged, "database disk image is malformed", false,
       "the file is not a valid settings database: /app/Setlog.dll (database disk image is "
       "malformed)\n"
       "there is no valid spare copy either (the file does not exist: /app/setlog.dlb): move the "
       "damaged file aside and run 'veltora-cli init' to start with empty settings"},
      {SettingsFault::kUnreadable, "unable to open database file", true,
       "cannot open the settings database /app/Setlog.dll (unable to open database file)\n"
       "check that this user may read and write the file"},
      {SettingsFault::kFolderReadOnly, "attempt to write a readonly database", true,
       "cannot open the settings database for writing, the application folder is read-only for "
       "this user: /app (attempt to write a readonly database)\n"
       "give this user write access to the folder, or name another one with --app-dir"},
      {SettingsFault::kNotWritable, "attempt to write a readonly database", true,
       "cannot open the settings database for writing: /app/Setlog.dll (attempt to write a "
       "readonly database)\n"
       "check that this user may read and write the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    d.fault = c.fault;
    d.detail = c.detail;
    d.spareValid = c.spareValid;
    d.spareDefect = c.spareValid ? "" : "the file does not exist";
    EXPECT_EQ(DescribeSettingsProblem(d, "disk I/O error"), c.text);
  }
}

TEST_F(SettingsRepairTest, RestoreKeepsTheBrokenFileAndItsJournalsUnderAFreeName) {
  Garbage(Live());
  WriteFile(Live() + "-wal", "stale log");
  WriteFile(Live() + "-shm", "stale index");
  WriteFile(Live() + ".broken-20240501013000", "an earlier one");
  const std::string spare = ReadFile(Spare());

  const RestoreOutcome outcome = RestoreSpareCopy(dir_.str(), clock_);

  EXPECT_EQ(outcome.restoredPath, Live());
  EXPECT_EQ(outcome.keptAsidePath, Live() + ".broken-20240501013000-2");
  auto files = Files();
  EXPECT_EQ(files.erase("Setlog.dll"), 1u);
  const std::map<std::string, std::string> others = {
      {"Setlog.dll.broken-20240501013000", "an earlier one"},
      {"Setlog.dll.broken-20240501013000-2",
       "this is no database, just text that is long enough to look like one"},
      {"Setlog.dll.broken-20240501013000-2-wal", "stale log"},
      {"setlog.dlb", spare},
  };
  EXPECT_EQ(files, others);
  VELTORA_EXPECT_OWNER_ONLY(Live());
  EXPECT_EQ(FindSettingsFileDefect(Live()), "");
  const auto rows = SettingsDatabase(dir_.str()).ListBackupLog();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].localbakfile, "in the copy 远程备份失败");

  // Broken again in the same second: the next free name.
  Garbage(Live());
  EXPECT_EQ(RestoreSpareCopy(dir_.str(), clock_).keptAsidePath,
            Live() + ".broken-20240501013000-3");
}

TEST_F(SettingsRepairTest, RestoreIntoAFolderWithoutDatabaseKeepsNothingAside) {
  fs::remove(Live());
  const RestoreOutcome outcome = RestoreSpareCopy(dir_.str(), clock_);
  EXPECT_EQ(outcome.restoredPath, Live());
  EXPECT_EQ(outcome.keptAsidePath, "");
  EXPECT_EQ(SettingsDatabase(dir_.str()).ListBackupLog().size(), 1u);
}

TEST_F(SettingsRepairTest, RestoreRefusesAndChangesNothingWithoutAGoodSpareOrABrokenFile) {
  struct Case {
    const char* name;
    std::function<void(const std::string& live, const std::string& spare)> prepare;
    std::string error;
  };
  const Case cases[] = {
      {"no spare copy",
       [](const std::string& live, const std::string& spare) {
         Garbage(live);
         fs::remove(spare);
       },
       "there is no spare copy to restore: " + Spare()},
      {"spare copy is text",
       [](const std::string& live, const std::string& spare) {
         Garbage(live);
         Garbage(spare);
       },
       "the spare copy is not a valid settings database, nothing was changed: " + Spare() +
           " (file is not a database)"},
      {"spare copy lacks its settings row",
       [](const std::string& live, const std::string& spare) {
         Garbage(live);
         RawDb(spare).Exec("delete from bakset");
       },
       "the spare copy is not a valid settings database, nothing was changed: " + Spare() +
           " (the settings table bakset should hold one row, it holds 0)"},
      {"database is valid", [](const std::string&, const std::string&) {},
       "the settings database is valid, nothing was changed (restore-settings only replaces a "
       "missing or damaged one): " +
           Live()},
  };
  const std::string live = ReadFile(Live());
  const std::string spare = ReadFile(Spare());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Live(), live);
    WriteFile(Spare(), spare);
    c.prepare(Live(), Spare());
    const auto before = Files();
    try {
      RestoreSpareCopy(dir_.str(), clock_);
      ADD_FAILURE() << "restored";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.error);
    }
    EXPECT_EQ(Files(), before);
  }
}

}  // namespace
}  // namespace veltora
