// The demonstration: generated sample account sets of both kinds, one backup
// run of each edition against them, and what the runs left behind.
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "app/process_state.h"
#include "app/run_log.h"
#include "base/fs_path.h"
#include "base/path.h"
#include "cli/cli.h"
#include "settings/settings_database.h"
#include "sqlserver/standin_sql_server.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;

// Paths are the program's UTF-8 strings.
fs::path PathOf(const std::string& utf8) { return PathFromUtf8(utf8); }
std::string TextOf(const fs::path& path) { return Utf8FromPath(path); }

constexpr char kDemoLogin[] = "sa";
constexpr char kDemoPassword[] = "Demo#2026";
constexpr char kDemoArchivePassword[] = "Ledger&Key%1";

// The sample .AIS files: a blank, a quote and Chinese characters in the names,
// and one file left unticked.
struct SampleFile {
  const char* name;
  bool ticked;
};
constexpr SampleFile kSampleFiles[] = {
    {"华东贸易有限公司.AIS", true},
    {"Acme Trading.AIS", true},
    {"O'Neil & Sons.AIS", true},
    {"Archive 2019.AIS", false},
};

struct SampleAccountSet {
  const char* number;
  const char* name;
  const char* database;
};
constexpr SampleAccountSet kSampleAccountSets[] = {
    {"001", "总公司账套", "AIS20240101"},
    {"002", "分公司 账套", "AIS2024 分公司"},
};

void WriteSampleFile(const std::string& path, std::uint32_t seed, std::size_t size) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
  std::ofstream file(PathOf(path), std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

// Runs SQL on a SQLite file: the stand-in's databases are plain SQLite files.
void RunSql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open(file.c_str(), &db);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> guard(db, sqlite3_close);
  char* error = nullptr;
  if (rc != SQLITE_OK || sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string text = error ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    throw std::runtime_error(file + ": " + text);
  }
}

std::string SqlText(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

void MakeSampleServer(const std::string& folder) {
  StandinSqlServer::CreateServer(folder, {{kDemoLogin, kDemoPassword}});
  std::string catalogue =
      "CREATE TABLE t_ad_kdAccount_gl(FAcctID INTEGER, FAcctNumber TEXT, FAcctName TEXT,"
      " FDBName TEXT);"
      "INSERT INTO t_ad_kdAccount_gl VALUES(NULL, '000', '模板(不是账套)', 'AIS_TEMPLATE');";
  int id = 1;
  for (const auto& set : kSampleAccountSets) {
    catalogue += "INSERT INTO t_ad_kdAccount_gl VALUES(" + std::to_string(id++) + ", " +
                 SqlText(set.number) + ", " + SqlText(set.name) + ", " + SqlText(set.database) +
                 ");";
    RunSql(StandinSqlServer::CreateDatabase(folder, set.database),
           "CREATE TABLE t_Voucher(FVoucherID INTEGER PRIMARY KEY, FDate TEXT, FAmount REAL);"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)"
           " INSERT INTO t_Voucher SELECT i, date('2024-01-01', '+' || (i % 365) || ' days'),"
           " i * 10.5 FROM n;");
  }
  RunSql(StandinSqlServer::CreateDatabase(folder, "AcctCtl"), catalogue);
}

void PrintRunLog(const std::string& path, std::ostream& out) {
  std::ifstream file(PathOf(path), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << RunLogLineAsUtf8(line) << "\n";
  }
}

void ListFolder(const std::string& folder, std::ostream& out) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(PathOf(folder)))
    names.push_back(TextOf(entry.path().filename()));
  std::sort(names.begin(), names.end());
  for (const auto& n : names) out << "  " << n << "\n";
}

}  // namespace

int RunDemo(const std::string& folderArg, const CliContext& context, std::ostream& out,
            std::ostream& err) {
  std::error_code ec;
  const fs::path root = fs::absolute(PathOf(folderArg), ec);
  if (ec || (fs::exists(root) && !fs::is_empty(root, ec))) {
    err << "veltora-cli demo: " << folderArg << " is not an empty folder; name a new one\n";
    return kExitUsage;
  }
  const std::string accounts = TextOf(root / "accounts");
  const std::string server = TextOf(root / "sqlserver");
  const std::string backups = TextOf(root / "backups");
  const std::string app = TextOf(root / "app");
  const bool onShare = !context.demoShare.empty();
  const std::string remote = onShare ? context.demoShare : TextOf(root / "remote");
  const std::string remoteUser = onShare ? context.demoShareUser : "demo";
  try {
    for (const auto& dir : {accounts, server, backups, app}) fs::create_directories(PathOf(dir));
    if (!onShare) fs::create_directories(PathOf(remote));
    std::uint32_t seed = 1;
    for (const auto& f : kSampleFiles)
      WriteSampleFile(JoinPath(accounts, f.name), seed++, 300 * 1024);
    MakeSampleServer(server);
  } catch (const std::exception& e) {
    err << "veltora-cli demo: cannot lay out the sample data: " << e.what() << "\n";
    return kExitUsage;
  }
  if (int rc = RunInitCommand(app, context, out, err); rc != kExitOk) return rc;

  out << "示例目录 " << TextOf(root) << ":\n"
      << "  账套文件夹 " << accounts << "\n"
      << "  SQL Server 替身 " << server << "\n"
      << "  本机备份路径 " << backups << "\n"
      << "  应用程序文件夹 " << app << "\n"
      << "  远程共享文件夹 " << remote << (onShare ? " (Samba, 本机回环)" : " (本地文件夹)") << "\n"
      << "  压缩级别 标准, 压缩密码 " << kDemoArchivePassword << ", 保留 3 个备份\n";

  std::ostringstream liveLines;  // the run log is printed whole at the end
  int fileRun = kExitUsage;
  int sqlRun = kExitUsage;
  try {
    SettingsDatabase db(app);
    BaksetRow row = db.LoadSettings();
    row.softvernum = 0;
    row.accountDir = accounts;
    row.localDir = backups;
    row.localbak = true;
    row.remotebak = true;
    row.remoteDir = remote;
    row.remoteuser = remoteUser;
    row.remotepwd = context.demoSharePassword;
    row.rarlevel = "标准";
    row.bakfilenum = 3;
    db.SaveSettings(row, kDemoArchivePassword);
    std::vector<AccountListRow> ticked;
    for (const auto& f : kSampleFiles)
      if (f.ticked) ticked.push_back({"", f.name, f.name});
    db.RewriteAccountList(ticked);
    out << "\n== 金蝶KIS迷你版: 备份文件夹中的 .AIS 账套 ==\n";
    fileRun = RunBackupCommand(app, context, "", liveLines, err);

    row.softvernum = 2;
    row.sqluser = kDemoLogin;
    row.sqlpwd = kDemoPassword;
    db.SaveSettings(row);
    ticked.clear();
    for (const auto& set : kSampleAccountSets)
      ticked.push_back({set.number, set.name, set.database});
    db.RewriteAccountList(ticked);
    out << "== 金蝶KIS专业版: SQL Server 替身上的账套数据库 ==\n";
    sqlRun = RunBackupCommand(app, context, server, liveLines, err);
  } catch (const std::exception& e) {
    err << "veltora-cli demo: " << e.what() << "\n";
    return kExitUsage;
  }

  out << "\n== 程序运行日志 ==\n";
  PrintRunLog(RunLogPathFor(app), out);
  out << "\n== 备份日志 ==\n";
  RunLogCommand(app, -1, out, err);
  out << "\n== 本机备份路径中的文件 ==\n";
  ListFolder(backups, out);
  if (!onShare) {
    out << "\n== 远程文件夹中的文件 ==\n";
    ListFolder(remote, out);
  }
  return fileRun == kExitOk && sqlRun == kExitOk ? kExitOk : kExitBackupIncomplete;
}

}  // namespace veltora
