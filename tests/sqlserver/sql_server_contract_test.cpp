// What every SqlServerConnection promises its callers, checked against each
// backend: the stand-in, and the ODBC client over the SQLite ODBC driver (a
// real driver manager and a real driver, the same code path as FreeTDS). Each
// backend brings a small fixture that speaks its own dialect where the two
// cannot share a statement; the assertions are the same for both.
#include <gmock/gmock.h>

#include <clocale>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sql_test_support.h"
#include "sqlserver/odbc_sql_server.h"
#include "sqlserver/sql_server_connection.h"
#include "sqlserver/standin_sql_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using veltora::testing::CaughtSqlError;
using veltora::testing::ReadFile;
using veltora::testing::RunSqlite;
using veltora::testing::TempDir;
using veltora::testing::WriteFile;

constexpr SqlTimeouts kTimeouts{5, 30};
constexpr std::string_view kNotConnected = "Operation is not allowed when the object is closed.";
// The account-set catalogue query, exactly as the program sends it.
const std::string kCatalogueQuery =
    "SELECT  * FROM t_ad_kdAccount_gl  where FacctID is not null order by FacctNumber ";

// A statement the server refuses and the text it refuses it with.
struct Refusal {
  std::string statement;
  std::string text;
};

class StandinBackend {
 public:
  static constexpr const char* kName = "Standin";
  static std::string Unavailable() { return {}; }

  StandinBackend() { StandinSqlServer::CreateServer(folder_, {{user, password}}); }

  std::unique_ptr<SqlServerConnection> Create() const {
    return StandinSqlServerFactory(folder_).Create(kTimeouts);
  }
  // An empty database; answers its SQLite file for the test to fill.
  std::string MakeCatalogue(const std::string& name) const {
    return StandinSqlServer::CreateDatabase(folder_, name);
  }
  // A command without rows that writes the current catalogue to `file`: the
  // program's own backup statement for a modern server.
  static std::string CopyCatalogue(const std::string& catalogue, const std::string& file) {
    return BackupDatabaseStatement(catalogue, file, SqlServerVersion{16, 0});
  }
  static Refusal Refused() {
    return {DatabaseOptionStatement(DatabaseOptionStep::kAutoShrinkOn, "KDAcctDB",
                                    SqlServerVersion{16, 0}),
            "User does not have permission to alter database 'KDAcctDB', the database does not "
            "exist, or the database is not in a state that allows access checks.\nALTER "
            "DATABASE statement failed."};
  }
  // Makes the server answer the version 10.50; what AskServerVersion then
  // reads.
  std::optional<SqlServerVersion> AnswerAVersion() const {
    StandinSqlServer::SetProductVersion(folder_, "10.50.1600.1");
    return SqlServerVersion{10, 50};
  }
  static std::string MissingTable(const std::string& table) {
    return "Invalid object name '" + table + "'.";
  }

  const std::string user = "sa";
  const std::string password = "p;w'd";

 private:
  TempDir dir_;
  std::string folder_ = dir_ / "server";
};

// The catalogue names a SQLite file; login and password go nowhere, as SQLite
// has none.
class OdbcSqliteBackend {
 public:
  static constexpr const char* kName = "OdbcOverSqlite";
  static std::string Unavailable() {
    if (veltora::testing::OdbcDriverRegistered("SQLite3")) return {};
    return "the SQLite3 ODBC driver (Debian libsqliteodbc) is not registered";
  }

  // The driver has no wide entry points: the driver manager converts the
  // client's UTF-16 to the narrow code set of the locale, UTF-8 here.
  OdbcSqliteBackend() { std::setlocale(LC_CTYPE, "C.UTF-8"); }

  std::unique_ptr<SqlServerConnection> Create() const {
    std::string folder = dir_.str();
    return OdbcSqlServerFactory(
               [folder](const std::string&, const std::string&, const std::string& catalogue) {
                 return "Driver=SQLite3;Database=" +
                        veltora::testing::DriverFilePath(folder + "/" + catalogue + ".db");
               })
        .Create(kTimeouts);
  }
  std::string MakeCatalogue(const std::string& name) const {
    std::string file = dir_ / (name + ".db");
    veltora::testing::WriteFile(file, "");  // an empty file is an empty database
    return file;
  }
  static std::string CopyCatalogue(const std::string&, const std::string& file) {
    std::string literal = "'";
    for (char c : veltora::testing::DriverFilePath(file))
      literal += c == '\'' ? std::string("''") : std::string(1, c);
    return "VACUUM INTO " + literal + "'";
  }
  static Refusal Refused() {
    return {"this is no statement", "[SQLite]near \"this\": syntax error (1)"};
  }
  // SQLite has no SERVERPROPERTY: the refusal reads as an unknown version.
  std::optional<SqlServerVersion> AnswerAVersion() const { return std::nullopt; }
  static std::string MissingTable(const std::string& table) {
    return "[SQLite]no such table: " + table + " (1)";
  }

  const std::string user = "sa";
  const std::string password = "secret";

 private:
  TempDir dir_;
};

template <typename Backend>
class SqlServerContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = Backend::Unavailable(); !why.empty()) VELTORA_SKIP_OR_FAIL(why);
  }

  // A catalogue holding the account-set table with the given rows.
  void MakeAccountSets(const std::string& catalogue, const std::string& rows) {
    RunSqlite(backend_.MakeCatalogue(catalogue),
              "CREATE TABLE t_ad_kdAccount_gl(FAcctID INTEGER, FAcctNumber TEXT, FAcctName TEXT,"
              " FDBName TEXT);" +
                  rows);
  }

  std::unique_ptr<SqlServerConnection> Connected(const std::string& catalogue) {
    auto cn = backend_.Create();
    cn->Connect(backend_.user, backend_.password, catalogue);
    return cn;
  }

  Backend backend_;
  TempDir out_;
};

struct BackendNames {
  template <typename Backend>
  static std::string GetName(int) {
    return Backend::kName;
  }
};

using Backends = ::testing::Types<StandinBackend, OdbcSqliteBackend>;
TYPED_TEST_SUITE(SqlServerContractTest, Backends, BackendNames);

std::vector<std::string> Column(const std::vector<SqlRow>& rows, std::string_view column) {
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(row.Get(column));
  return out;
}

TYPED_TEST(SqlServerContractTest, ConnectExecuteQueryCloseRoundTrip) {
  this->MakeAccountSets("AcctCtl",
                        "INSERT INTO t_ad_kdAccount_gl VALUES (3, '003', 'Gamma', 'AIS003');"
                        "INSERT INTO t_ad_kdAccount_gl VALUES (NULL, '000', 'deleted', 'X');"
                        "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', 'Alpha', 'AIS001');");
  auto cn = this->Connected("AcctCtl");

  auto rows = cn->Query(kCatalogueQuery);
  EXPECT_THAT(Column(rows, "FAcctNumber"), ElementsAre("001", "003"));
  EXPECT_THAT(Column(rows, "FAcctName"), ElementsAre("Alpha", "Gamma"));
  EXPECT_THAT(Column(rows, "FAcctID"), ElementsAre("1", "3"));  // numbers read as text
  EXPECT_THAT(cn->Query("SELECT * FROM t_ad_kdAccount_gl WHERE FAcctID > 99"),
              ::testing::IsEmpty());

  const std::string copy = this->out_ / "AcctCtl.bak";
  cn->Execute(TypeParam::CopyCatalogue("AcctCtl", copy));
  EXPECT_THAT(RunSqlite(copy, "SELECT FAcctName FROM t_ad_kdAccount_gl ORDER BY FAcctNumber"),
              ElementsAre("deleted", "Alpha", "Gamma"));
  cn->Close();
}

TYPED_TEST(SqlServerContractTest, RowsAreReadByColumnNameInAnyAsciiCaseWithNullAsEmpty) {
  this->MakeAccountSets("AcctCtl", "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', NULL, NULL);");
  auto rows = this->Connected("AcctCtl")->Query(kCatalogueQuery);
  ASSERT_EQ(rows.size(), 1u);
  for (std::string_view spelling : {"FAcctNumber", "facctnumber", "FACCTNUMBER", "fAcCtNuMbEr"}) {
    SCOPED_TRACE(spelling);
    EXPECT_EQ(rows[0].Get(spelling), "001");
  }
  EXPECT_EQ(rows[0].Find("FAcctName"), "");
  EXPECT_EQ(rows[0].Get("fdbname"), "");
  EXPECT_EQ(rows[0].Find("FNoSuchColumn"), std::nullopt);
}

TYPED_TEST(SqlServerContractTest, FailuresThrowTheDriversTextAndTheConnectionGoesOn) {
  this->MakeAccountSets("AcctCtl", "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', 'A', 'B');");
  auto cn = this->Connected("AcctCtl");
  const Refusal refused = TypeParam::Refused();
  EXPECT_EQ(CaughtSqlError([&] { cn->Execute(refused.statement); }), refused.text);
  EXPECT_EQ(CaughtSqlError([&] { cn->Query("SELECT * FROM t_missing"); }),
            TypeParam::MissingTable("t_missing"));
  EXPECT_THAT(Column(cn->Query(kCatalogueQuery), "FAcctNumber"), ElementsAre("001"));
}

TYPED_TEST(SqlServerContractTest, TheVersionIsReadOrUnknownAndTheConnectionGoesOn) {
  this->MakeAccountSets("AcctCtl", "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', 'A', 'B');");
  const std::optional<SqlServerVersion> expected = this->backend_.AnswerAVersion();
  auto cn = this->Connected("AcctCtl");
  EXPECT_EQ(AskServerVersion(*cn), expected);
  EXPECT_THAT(Column(cn->Query(kCatalogueQuery), "FAcctNumber"), ElementsAre("001"));
  cn->Close();
  EXPECT_EQ(AskServerVersion(*cn), std::nullopt);  // not connected: unknown, never a throw
}

TYPED_TEST(SqlServerContractTest, ConnectReplacesTheConnectionAndCloseIsHarmless) {
  this->MakeAccountSets("AcctCtl", "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', 'A', 'B');");
  this->backend_.MakeCatalogue("master");
  auto cn = this->backend_.Create();
  cn->Close();  // never connected
  EXPECT_EQ(CaughtSqlError([&] { cn->Execute(TypeParam::Refused().statement); }), kNotConnected);

  cn->Connect(this->backend_.user, this->backend_.password, "AcctCtl");
  cn->Connect(this->backend_.user, this->backend_.password, "master");
  EXPECT_EQ(CaughtSqlError([&] { cn->Query(kCatalogueQuery); }),
            TypeParam::MissingTable("t_ad_kdAccount_gl"));
  cn->Close();
  cn->Close();
  EXPECT_EQ(CaughtSqlError([&] { cn->Query(kCatalogueQuery); }), kNotConnected);

  cn->Connect(this->backend_.user, this->backend_.password, "AcctCtl");
  EXPECT_THAT(Column(cn->Query(kCatalogueQuery), "FAcctNumber"), ElementsAre("001"));
}

TYPED_TEST(SqlServerContractTest, ChineseTextRoundTripsUnchanged) {
  // Long enough to cross the ODBC client's read chunks several times.
  std::string ledger;
  for (int i = 0; i < 5000; ++i) ledger += "账";
  // An ASCII catalogue name: unixODBC hands a connection string to a driver
  // without wide entry points, as the SQLite one is, cut to 8 bits. FreeTDS
  // takes it wide (see odbc_sql_server_test).
  const std::string catalogue = "AcctCtl";
  this->MakeAccountSets(catalogue,
                        "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', '北京分公司 账套', "
                        "'AIS_北京');"
                        "INSERT INTO t_ad_kdAccount_gl VALUES (2, '002', '" +
                            ledger + "', 'AIS002');");
  auto cn = this->Connected(catalogue);

  auto rows = cn->Query(
      "SELECT FAcctNumber, FDBName FROM t_ad_kdAccount_gl WHERE FAcctName = '北京分公司 账套'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Get("FDBName"), "AIS_北京");
  rows = cn->Query("SELECT FAcctName FROM t_ad_kdAccount_gl WHERE FAcctID = 2");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(rows[0].Get("FAcctName") == ledger);  // no dump of 15000 bytes on failure

  const std::string copy = this->out_ / "备份 测试 账套.bak";
  cn->Execute(TypeParam::CopyCatalogue(catalogue, copy));
  EXPECT_THAT(RunSqlite(copy, "SELECT FAcctName FROM t_ad_kdAccount_gl WHERE FAcctID = 1"),
              ElementsAre("北京分公司 账套"));
}

// The restore statements, on the backends that speak T-SQL's RESTORE: the
// stand-in, and a real server where a backend for one is given. SQLite's ODBC
// driver has no RESTORE to send them to.
template <typename Backend>
class SqlServerRestoreContractTest : public SqlServerContractTest<Backend> {
 protected:
  // A ledger database holding a voucher table with the given memos.
  void MakeLedger(const std::string& name, const std::vector<std::string>& memos) {
    std::string rows = "BEGIN; CREATE TABLE t_voucher(id INTEGER PRIMARY KEY, memo TEXT);";
    for (const auto& memo : memos) {
      std::string literal;
      for (char c : memo) literal += c == '\'' ? std::string("''") : std::string(1, c);
      rows += "INSERT INTO t_voucher(memo) VALUES ('" + literal + "');";
    }
    RunSqlite(this->backend_.MakeCatalogue(name), rows + "COMMIT;");
  }
  std::vector<std::string> Memos(const std::string& database) {
    return Column(this->Connected(database)->Query("SELECT memo FROM t_voucher ORDER BY id"),
                  "memo");
  }
  // Backs the database up to a file the server can read, as the nightly run
  // does, with the version the server answers.
  std::string BackUp(SqlServerConnection& master, const std::string& database,
                     const std::string& file) {
    const std::string bak = this->out_ / file;
    master.Execute(BackupDatabaseStatement(database, bak, AskServerVersion(master)));
    return bak;
  }
};

using RestoringBackends = ::testing::Types<StandinBackend>;
TYPED_TEST_SUITE(SqlServerRestoreContractTest, RestoringBackends, BackendNames);

TYPED_TEST(SqlServerRestoreContractTest, FileListNamesTheDataFileAndTheLog) {
  this->MakeLedger("AIS20240101", {"one"});
  auto master = this->Connected("master");
  const std::string bak = this->BackUp(*master, "AIS20240101", "AIS20240101.bak");
  const auto files = master->Query(RestoreFileListStatement(bak));
  EXPECT_THAT(Column(files, "Type"), ElementsAre("D", "L"));
  EXPECT_THAT(Column(files, "LogicalName"), ElementsAre("AIS20240101", "AIS20240101_log"));
  for (const auto& path : Column(files, "PhysicalName")) EXPECT_FALSE(path.empty());
}

// Every name goes quoted: brackets, quotes, blanks and Chinese reach the server
// as the names they are, on both sides of the restore.
TYPED_TEST(SqlServerRestoreContractTest, RestoredAsANewNameTheDatabaseEqualsTheBackedUpOne) {
  struct Case {
    std::string source, restoredAs;
  } cases[] = {
      {"AIS20240101", "AIS20240101_restored_20240102"},
      {"测试 账套's]1", "测试 账套's]1 恢复"},
      {"a\"b [c]", "x'y]]z"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.restoredAs);
    this->MakeLedger(c.source, {"凭证一", "two's"});
    auto master = this->Connected("master");
    const auto version = AskServerVersion(*master);
    const std::string bak = this->BackUp(*master, c.source, std::to_string(++n) + " 备份.bak");
    RunSqlite(this->backend_.MakeCatalogue(c.source), "UPDATE t_voucher SET memo = 'changed';");

    RestoreDatabaseAs(*master, bak, c.restoredAs, false, version);
    EXPECT_TRUE(DatabaseExists(*master, c.restoredAs));
    EXPECT_THAT(this->Memos(c.restoredAs), ElementsAre("凭证一", "two's"));
    EXPECT_THAT(this->Memos(c.source), ElementsAre("changed", "changed"));

    // Over the backed-up database itself, as a restore in place does.
    RestoreDatabaseAs(*master, bak, c.source, true, version);
    EXPECT_THAT(this->Memos(c.source), ElementsAre("凭证一", "two's"));
  }
}

TYPED_TEST(SqlServerRestoreContractTest, AnExistingNameIsRefusedWithoutReplace) {
  this->MakeLedger("AIS001", {"backed up"});
  this->MakeLedger("Other's db", {"kept"});
  auto master = this->Connected("master");
  const std::string bak = this->BackUp(*master, "AIS001", "AIS001.bak");
  for (const std::string name : {"Other's db", "AIS001"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(CaughtSqlError(
                  [&] { RestoreDatabaseAs(*master, bak, name, false, AskServerVersion(*master)); }),
              "Database '" + name + "' already exists. Choose a different database name.");
  }
  EXPECT_THAT(this->Memos("Other's db"), ElementsAre("kept"));
}

TYPED_TEST(SqlServerRestoreContractTest, VerifyPassesAWholeBackupAndRefusesADamagedOne) {
  // Rows enough for a few pages, one of them with a text to damage.
  std::vector<std::string> memos(200, std::string(100, 'x'));
  memos[150] = "凭证-payload-to-damage";
  this->MakeLedger("AIS002", memos);
  auto master = this->Connected("master");
  const auto version = AskServerVersion(*master);
  const std::string bak = this->BackUp(*master, "AIS002", "AIS002.bak");
  EXPECT_NO_THROW(VerifyBackupFile(*master, bak, version));

  const std::string whole = ReadFile(bak);
  struct Damage {
    std::string what, content;
  } damages[] = {
      {"one byte of a row changed",
       [&] {
         std::string bytes = whole;
         bytes[bytes.find("payload-to-damage")] ^= 0x01;
         return bytes;
       }()},
      {"cut to half", whole.substr(0, whole.size() / 2)},
      {"no backup at all", "7z archive, not a backup"},
  };
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.what);
    const std::string damaged = this->out_ / "damaged.bak";
    WriteFile(damaged, damage.content);
    EXPECT_THAT(CaughtSqlError([&] { VerifyBackupFile(*master, damaged, version); }),
                EndsWith("\nVERIFY DATABASE is terminating abnormally."));
    EXPECT_FALSE(CaughtSqlError([&] {
                   RestoreDatabaseAs(*master, damaged, "AIS002_restored", false, version);
                 }).empty());
    EXPECT_FALSE(DatabaseExists(*master, "AIS002_restored"));
  }
}

}  // namespace
}  // namespace veltora
