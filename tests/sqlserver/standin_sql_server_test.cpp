#include "sqlserver/standin_sql_server.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "sql_test_support.h"
#include "sqlserver/standin_statement.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using veltora::testing::CaughtSqlError;
using veltora::testing::RunSqlite;
using veltora::testing::TempDir;

std::vector<std::string> Column(const std::vector<SqlRow>& rows, std::string_view column) {
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(row.Get(column));
  return out;
}

// The statements exactly as the program builds them.
std::string DbOption(const std::string& db, const std::string& option, const std::string& value) {
  return "exec sp_dboption " + QuoteSqlLiteral(db) + ",'" + option + "','" + value + "'";
}
std::string Backup(const std::string& db, const std::string& file) {
  return "backup database " + QuoteSqlIdentifier(db) + " to disk=" + QuoteSqlLiteral(file) +
         " with init";
}

class StandinTest : public ::testing::Test {
 protected:
  StandinTest() { StandinSqlServer::CreateServer(folder_, {{"sa", "p;w'd"}, {"kis", "kis"}}); }

  std::unique_ptr<SqlServerConnection> Connected(const std::string& catalogue = "master",
                                                 SqlTimeouts timeouts = {}) {
    auto server = StandinSqlServerFactory(folder_).Create(timeouts);
    server->Connect("sa", "p;w'd", catalogue);
    return server;
  }

  // A database with a table, as an account set's database.
  std::string MakeLedger(const std::string& name, const std::string& rows) {
    std::string file = StandinSqlServer::CreateDatabase(folder_, name);
    RunSqlite(file, "CREATE TABLE t_voucher(id INTEGER PRIMARY KEY, memo TEXT);" + rows);
    return file;
  }

  // What sp_dboption recorded for a database, "option=value" by option.
  std::vector<std::string> Options(const std::string& db) {
    std::string literal;
    for (char c : db) literal += c == '\'' ? std::string("''") : std::string(1, c);
    return RunSqlite(folder_ + "/server.sqlite",
                     "SELECT option || '=' || value FROM dboptions WHERE db_name = '" + literal +
                         "' ORDER BY option");
  }

  TempDir dir_;
  std::string folder_ = dir_ / "server";
};

TEST_F(StandinTest, ConnectChecksServerLoginAndCatalogue) {
  struct Case {
    std::string folder, user, password, catalogue, error;
  } cases[] = {
      {"server", "sa", "p;w'd", "master", ""},
      {"server", "SA", "p;w'd", "MASTER", ""},  // names ignore case, as on the server
      {"server", "kis", "kis", "master", ""},
      {"server", "sa", "P;W'D", "master", "Login failed for user 'sa'."},
      {"server", "bob", "", "master", "Login failed for user 'bob'."},
      {"server", "sa", "p;w'd", "AcctCtl",
       "Cannot open database \"AcctCtl\" requested by the login. The login failed."},
      {"nowhere", "sa", "p;w'd", "master",
       "[DBNETLIB][ConnectionOpen (Connect()).]SQL Server does not exist or access denied."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder + " " + c.user + " " + c.catalogue);
    StandinSqlServer server(dir_ / c.folder, {});
    if (c.error.empty()) {
      EXPECT_NO_THROW(server.Connect(c.user, c.password, c.catalogue));
    } else {
      EXPECT_EQ(CaughtSqlError([&] { server.Connect(c.user, c.password, c.catalogue); }), c.error);
      EXPECT_EQ(CaughtSqlError([&] { server.Execute("SELECT 1"); }),
                "Operation is not allowed when the object is closed.");
    }
    server.Close();
    server.Close();
  }
}

TEST_F(StandinTest, DbOptionSetsOptionsOfExistingDatabases) {
  const std::string name = "测试 账套's]1";
  MakeLedger(name, "");
  StandinSqlServer::SetProductVersion(folder_, "8.00.2039");
  auto server = Connected();
  server->Execute(DbOption(name, "select into/bulkcopy", "true"));
  server->Execute("EXEC sp_dboption " + QuoteSqlLiteral(name) + ",'autoshrink','TRUE'");
  server->Execute("EXEC sp_dboption " + QuoteSqlIdentifier(name) +
                  ",'trunc. log on chkpt','false'");
  EXPECT_THAT(Options(name), ElementsAre("autoshrink=true", "select into/bulkcopy=true",
                                         "trunc. log on chkpt.=false"));

  struct Case {
    std::string statement, error;
  } failures[] = {
      {DbOption("KDAcctDB", "autoshrink", "TRUE"),
       "The database 'KDAcctDB' does not exist. Supply a valid database name. To see available "
       "databases, use sys.databases."},
      {DbOption(name, "shrink fast", "TRUE"),
       "Database option 'shrink fast' does not exist. Specify a valid option."},
      {DbOption(name, "auto", "TRUE"), "Database option 'auto' is not unique."},
      {DbOption(name, "autoshrink", "maybe"),
       "Usage: sp_dboption [dbname [,optname [,'true' | 'false']]]"},
      {"exec sp_renamedb N'a', N'b'", "Could not find stored procedure 'sp_renamedb'."},
      {"exec sp_dboption N'master','autoshrink'", "Incorrect syntax near ''autoshrink''."},
      // The name inserted without quoting: its quote ends the literal early.
      {"exec sp_dboption N'" + name + "','autoshrink','TRUE'",
       "Unclosed quotation mark after the character string ''."},
      {"drop database master", "Incorrect syntax near 'drop'."},
  };
  for (const auto& c : failures) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(CaughtSqlError([&] { server->Execute(c.statement); }), c.error);
  }
  EXPECT_EQ(Options(name).size(), 3u);
}

// The version decides which statements exist; ALTER DATABASE records what the
// sp_dboption calls of the same meaning record.
TEST_F(StandinTest, VersionAnswerAndTheStatementsEachVersionKnows) {
  const std::string name = "测试 账套's]1";
  MakeLedger(name, "INSERT INTO t_voucher(memo) VALUES ('x');");
  const std::string bak = dir_ / "v.bak";
  auto version = [&] { return Column(Connected()->Query(kProductVersionQuery), "ProductVersion"); };
  EXPECT_THAT(version(), ElementsAre("15.0.2000.5"));  // a modern server unless told

  auto server = Connected();
  const auto modern = ParseProductVersion("15.0");
  server->Execute(DatabaseOptionStatement(DatabaseOptionStep::kAutoShrinkOn, name, modern));
  server->Execute(DatabaseOptionStatement(DatabaseOptionStep::kBulkCopyOn, name, modern));
  EXPECT_THAT(Options(name), ElementsAre("autoshrink=true", "select into/bulkcopy=true",
                                         "trunc. log on chkpt.=false"));
  server->Execute("ALTER DATABASE " + QuoteSqlIdentifier(name) + " SET RECOVERY SIMPLE");
  server->Execute("alter database " + QuoteSqlIdentifier(name) + " set auto_shrink off");
  EXPECT_THAT(Options(name), ElementsAre("autoshrink=false", "select into/bulkcopy=true",
                                         "trunc. log on chkpt.=true"));
  server->Execute("ALTER DATABASE " + QuoteSqlIdentifier(name) + " SET RECOVERY FULL");
  EXPECT_THAT(Options(name), ElementsAre("autoshrink=false", "select into/bulkcopy=false",
                                         "trunc. log on chkpt.=false"));
  server->Execute(BackupDatabaseStatement(name, bak, modern));
  EXPECT_THAT(RunSqlite(bak, "SELECT memo FROM t_voucher"), ElementsAre("x"));

  struct Case {
    std::string statement, error;
  } modernFailures[] = {
      {DbOption(name, "autoshrink", "TRUE"), "Could not find stored procedure 'sp_dboption'."},
      {"ALTER DATABASE [KDAcctDB] SET AUTO_SHRINK ON",
       "User does not have permission to alter database 'KDAcctDB', the database does not "
       "exist, or the database is not in a state that allows access checks.\nALTER DATABASE "
       "statement failed."},
      {"ALTER DATABASE [a] SET RECOVERY BULK", "Incorrect syntax near 'BULK'."},
      {"ALTER DATABASE [a] SET AUTO_CLOSE ON", "Incorrect syntax near 'AUTO_CLOSE'."},
  };
  for (const auto& c : modernFailures) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(CaughtSqlError([&] { server->Execute(c.statement); }), c.error);
  }

  StandinSqlServer::SetProductVersion(folder_, "8.00.2039");
  EXPECT_THAT(version(), ElementsAre("8.00.2039"));
  server = Connected();
  EXPECT_EQ(CaughtSqlError([&] {
              server->Execute(BackupDatabaseStatement(name, bak, ParseProductVersion("9.0")));
            }),
            "Incorrect syntax near 'CHECKSUM'.");
  EXPECT_NO_THROW(server->Execute(DbOption(name, "autoshrink", "TRUE")));
  EXPECT_NO_THROW(server->Execute(BackupDatabaseStatement(name, bak, std::nullopt)));
}

TEST_F(StandinTest, BackupWritesAnOpenableCopyAndWithInitOverwrites) {
  const std::string name = "测试 账套's]1";
  std::string source = MakeLedger(name, "INSERT INTO t_voucher(memo) VALUES ('凭证一'), ('two');");
  std::filesystem::create_directories(PathFromUtf8(dir_ / "备份 it's here"));
  const std::string file = dir_ / "备份 it's here/测试 账套's]120240131120000.bak";

  auto server = Connected();
  server->Execute(Backup(name, file));
  EXPECT_THAT(RunSqlite(file, "SELECT memo FROM t_voucher ORDER BY id"),
              ElementsAre("凭证一", "two"));

  RunSqlite(source, "DELETE FROM t_voucher; INSERT INTO t_voucher(memo) VALUES ('three');");
  server->Execute(Backup(name, file));
  EXPECT_THAT(RunSqlite(file, "SELECT memo FROM t_voucher ORDER BY id"), ElementsAre("three"));
  // Nothing but the backup is left beside it.
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(PathFromUtf8(dir_ / "备份 it's here")),
                    std::filesystem::directory_iterator()),
      1);

  // Keywords in any case, a bare name, a plain literal, extra blanks.
  server->Execute("BACKUP  DATABASE master\n TO DISK = '" + dir_ / "m.bak" + "' WITH INIT;");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "m.bak"));
  // Without INIT an existing backup file is not touched.
  EXPECT_EQ(CaughtSqlError([&] {
              server->Execute("backup database master to disk=N'" + dir_ / "m.bak" + "'");
            }),
            "The backup device '" + dir_ / "m.bak" +
                "' already holds a backup set, and this server keeps one per file. Use WITH INIT "
                "to overwrite it.\nBACKUP DATABASE is terminating abnormally.");
}

TEST_F(StandinTest, BackupFailuresActOnNoFile) {
  MakeLedger("a", "INSERT INTO t_voucher(memo) VALUES ('x');");
  MakeLedger("a'b", "INSERT INTO t_voucher(memo) VALUES ('y');");
  std::filesystem::create_directories(dir_ / "out/sub.bak");
  const std::string out = dir_ / "out";
  auto server = Connected();

  struct Case {
    std::string statement, error;
  } cases[] = {
      {Backup("KDAcctDB", out + "/k.bak"),
       "Could not locate entry in sysdatabases for database 'KDAcctDB'. No entry found with that "
       "name. Make sure that the name is entered correctly.\nBACKUP DATABASE is terminating "
       "abnormally."},
      {Backup("a", out + "/missing/a.bak"),
       "Cannot open backup device '" + out +
           "/missing/a.bak'. Operating system error 3(The system cannot find the path "
           "specified.).\nBACKUP DATABASE is terminating abnormally."},
      {Backup("a", out + "/sub.bak"),
       "Cannot open backup device '" + out +
           "/sub.bak'. Operating system error 5(Access is denied.).\nBACKUP DATABASE is "
           "terminating abnormally."},
      // Name and path inserted without escaping, as a careless caller would.
      {"backup database a to disk=N'" + out + "/it's.bak' with init",
       "Unclosed quotation mark after the character string ' with init'."},
      {"backup database a'b to disk=N'" + out + "/ab.bak' with init",
       "Unclosed quotation mark after the character string ' with init'."},
      {"backup database [a to disk=N'" + out + "/a.bak' with init",
       "Unclosed quotation mark after the character string 'a to disk=N'" + out +
           "/a.bak' with init'."},
      {"backup database [a] to disk=N'" + out + "/a.bak' with init; drop database a",
       "Incorrect syntax near 'drop'."},
      {"backup database [a] to tape=N'" + out + "/a.bak' with init",
       "Incorrect syntax near 'tape'."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(CaughtSqlError([&] { server->Execute(c.statement); }), c.error);
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out),
                          std::filesystem::directory_iterator()),
            1);  // only the folder "sub.bak"
}

TEST_F(StandinTest, SysdatabasesAnswersWhetherACatalogueExists) {
  StandinSqlServer::CreateDatabase(folder_, "AcctCtl");
  StandinSqlServer::CreateDatabase(folder_, "a/b%c");
  auto server = Connected();
  struct Case {
    std::string query;
    std::vector<std::string> names;
  } cases[] = {
      {"SELECT  name FROM sysdatabases where name=N'AcctCtl'", {"AcctCtl"}},
      {"SELECT  name FROM sysdatabases where name='acctctl'", {"AcctCtl"}},
      {"SELECT  name FROM sysdatabases where name=N'KDAcctDB'", {}},
      {"select name from master..sysdatabases where [name] = N'a/b%c'", {"a/b%c"}},
      {"SELECT * FROM master.dbo.sysdatabases", {"AcctCtl", "a/b%c", "master"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(Column(server->Query(c.query), "NAME"), c.names);
  }
  EXPECT_EQ(CaughtSqlError([&] { server->Query("SELECT name FROM tempdb..sysdatabases"); }),
            "Incorrect syntax near 'sysdatabases'.");
}

TEST_F(StandinTest, CatalogueQueryRunsOnTheCurrentDatabase) {
  std::string catalogue = StandinSqlServer::CreateDatabase(folder_, "AcctCtl");
  RunSqlite(catalogue,
            "CREATE TABLE t_ad_kdAccount_gl(FAcctID INTEGER, FAcctNumber TEXT, FAcctName TEXT,"
            " FDBName TEXT);"
            "INSERT INTO t_ad_kdAccount_gl VALUES (3, '003', '上海 分公司', 'AIS003');"
            "INSERT INTO t_ad_kdAccount_gl VALUES (NULL, '000', 'deleted', 'AIS000');"
            "INSERT INTO t_ad_kdAccount_gl VALUES (1, '001', 'Head''s office', NULL);"
            "INSERT INTO t_ad_kdAccount_gl VALUES (2, '002', '北京', 'AIS002');");
  const std::string query =
      "SELECT  * FROM t_ad_kdAccount_gl  where FacctID is not null order by FacctNumber ";

  auto server = Connected("AcctCtl");
  auto rows = server->Query(query);
  EXPECT_THAT(Column(rows, "FAcctNumber"), ElementsAre("001", "002", "003"));
  EXPECT_THAT(Column(rows, "facctname"), ElementsAre("Head's office", "北京", "上海 分公司"));
  EXPECT_THAT(Column(rows, "FDBName"), ElementsAre("", "AIS002", "AIS003"));

  server->Connect("sa", "p;w'd", "master");
  EXPECT_EQ(CaughtSqlError([&] { server->Query(query); }),
            "Invalid object name 't_ad_kdAccount_gl'.");
  EXPECT_EQ(CaughtSqlError([&] { server->Query("SELECT FNone FROM sqlite_master"); }),
            "Invalid column name 'FNone'.");
  EXPECT_EQ(CaughtSqlError([&] { server->Query("SELECT 1; DELETE FROM t"); }),
            "Incorrect syntax near 'DELETE FROM t'. This server runs one SELECT per call.");
}

TEST_F(StandinTest, FaultsFailMatchingStatementsOnly) {
  const std::string name = "账套 1";
  MakeLedger(name, "INSERT INTO t_voucher(memo) VALUES ('x');");
  StandinSqlServer::AddFault(folder_, "%sp_dboption%autoshrink%",
                             "Could not obtain exclusive lock on database '账套 1'.");
  StandinSqlServer::SetProductVersion(folder_, "10.50.1600.1");
  auto server = Connected();
  server->Execute(DbOption(name, "select into/bulkcopy", "true"));
  EXPECT_EQ(
      CaughtSqlError([&] { server->Execute("EXEC sp_dboption N'账套 1','autoshrink','TRUE'"); }),
      "Could not obtain exclusive lock on database '账套 1'.");
  server->Execute(Backup(name, dir_ / "账套 1.bak"));
  EXPECT_THAT(RunSqlite(dir_ / "账套 1.bak", "SELECT memo FROM t_voucher"), ElementsAre("x"));
}

TEST_F(StandinTest, CommandTimeOutEndsALongQuery) {
  auto server = Connected("master", {27, 1});
  EXPECT_EQ(CaughtSqlError([&] {
              server->Query(
                  "SELECT count(*) FROM (WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 "
                  "FROM n) SELECT x FROM n)");
            }),
            "Query timeout expired");
  EXPECT_EQ(Column(server->Query("SELECT 'still here' AS state"), "state"),
            std::vector<std::string>{"still here"});
}

TEST(StandinStatementTest, ReadsNamesAndLiteralsAsTSqlQuotesThem) {
  struct Case {
    std::string sql;
    StandinStatement statement;
  } cases[] = {
      {"-- step 1\nexec sp_dboption N'账套''s 1', 'autoshrink' , 'TRUE' /* done */",
       StandinDbOptionCall{"账套's 1", "autoshrink", "TRUE"}},
      {"EXECUTE sp_dboption [a]]b], [trunc. log on chkpt], true;",
       StandinDbOptionCall{"a]b", "trunc. log on chkpt", "true"}},
      {"backup database \"x\"\"y\" to disk = 'C:\\b''s.bak' with noinit, init",
       StandinBackupDatabase{"x\"y", "C:\\b's.bak", true}},
      {"BACKUP DATABASE x TO DISK=N'f' WITH INIT, NOINIT", StandinBackupDatabase{"x", "f", false}},
      {"backup database x to disk=N'f'", StandinBackupDatabase{"x", "f", false}},
      {"backup database [x] to disk=N'f' with init, checksum",
       StandinBackupDatabase{"x", "f", true, true}},
      {"backup database x to disk=N'f' with checksum, no_checksum",
       StandinBackupDatabase{"x", "f", false, false}},
      {"ALTER DATABASE [a]]b] SET RECOVERY BULK_LOGGED;",
       StandinAlterDatabase{"a]b", "RECOVERY", "BULK_LOGGED"}},
      {"alter database x set auto_shrink on", StandinAlterDatabase{"x", "AUTO_SHRINK", "ON"}},
      {kProductVersionQuery, StandinServerPropertyQuery{"ProductVersion", "ProductVersion"}},
      {"select serverproperty(N'Edition')", StandinServerPropertyQuery{"Edition", ""}},
      {"SELECT CAST(x AS varchar(9)) AS y FROM t", StandinPlainSelect{"CAST"}},
      {"  /* nothing */ -- at all", StandinEmptyBatch{}},
      {"select name from sysdatabases", StandinSysdatabasesQuery{}},
      {"SELECT filename, name FROM master..sysdatabases WHERE name = N'master'",
       StandinSysdatabasesQuery{"master"}},
      {"RESTORE FILELISTONLY FROM DISK = N'C:\\b''s.bak'", StandinRestoreFileList{"C:\\b's.bak"}},
      {"restore verifyonly from disk='f' with checksum", StandinRestoreVerify{"f", true}},
      {"RESTORE VERIFYONLY FROM DISK = N'f'", StandinRestoreVerify{"f", std::nullopt}},
      {RestoreDatabaseStatement("a]b's", "f", {{"l'1", "C:\\d\\a]b's.mdf"}, {"l_log", "g"}}, true,
                                SqlServerVersion{9, 0}),
       StandinRestoreDatabase{
           "a]b's", "f", {{"l'1", "C:\\d\\a]b's.mdf"}, {"l_log", "g"}}, true, true}},
      {"restore database x from disk=N'f' with recovery, no_checksum",
       StandinRestoreDatabase{"x", "f", {}, false, false}},
      {"SELECT * FROM t_ad_kdAccount_gl", StandinPlainSelect{"*"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_TRUE(ParseStandinStatement(c.sql) == c.statement);
  }
  EXPECT_EQ(CaughtSqlError([] { ParseStandinStatement("select 1 /* open"); }),
            "Missing end comment mark '*/'.");
}

// The restore routines over every version the program meets: 2000 (no
// CHECKSUM, no default data path), 2008 R2 (CHECKSUM, data folder from
// master's file), 2019 (InstanceDefaultDataPath).
TEST_F(StandinTest, RestoreAsCopiesTheBackupOnEveryVersion) {
  const std::string dataPathQuery =
      "SELECT CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(4000)) AS DataPath";
  struct Case {
    std::string version;
    std::string dataPath;
  } cases[] = {
      {"8.00.2039", ""},
      {"10.50.1600.1", ""},
      {"15.0.2000.5", Utf8FromPath(PathFromUtf8(folder_) / "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    StandinSqlServer::SetProductVersion(folder_, c.version);
    const std::string name = "账套 " + c.version;
    MakeLedger(name, "INSERT INTO t_voucher(memo) VALUES ('凭证一'), ('two');");
    auto server = Connected();
    const auto version = AskServerVersion(*server);
    EXPECT_THAT(Column(server->Query(dataPathQuery), "DataPath"), ElementsAre(c.dataPath));
    const std::string bak = dir_ / (c.version + ".bak");
    server->Execute(BackupDatabaseStatement(name, bak, version));
    EXPECT_NO_THROW(VerifyBackupFile(*server, bak, version));

    RestoreDatabaseAs(*server, bak, name + " restored", false, version);
    const std::string restored =
        folder_ + "/" + StandinSqlServer::DatabaseFileName(name + " restored");
    EXPECT_THAT(RunSqlite(restored, "SELECT memo FROM t_voucher ORDER BY id"),
                ElementsAre("凭证一", "two"));
    // The backup-set record stays in the backup and leaves the database.
    EXPECT_THAT(RunSqlite(restored, "SELECT name FROM sqlite_master"), ElementsAre("t_voucher"));
  }
}

// A backup made without checksums (an older server, or before the version was
// asked) is still verified and restored on a server that knows CHECKSUM.
TEST_F(StandinTest, BackupsWithoutChecksumsStayRestorable) {
  MakeLedger("old", "INSERT INTO t_voucher(memo) VALUES ('2019');");
  auto server = Connected();
  const std::string plain = dir_ / "old.bak";
  server->Execute(BackupDatabaseStatement("old", plain, std::nullopt));
  const SqlServerVersion now{15, 0};
  EXPECT_NO_THROW(VerifyBackupFile(*server, plain, now));
  RestoreDatabaseAs(*server, plain, "old restored", false, now);
  EXPECT_THAT(RunSqlite(folder_ + "/" + StandinSqlServer::DatabaseFileName("old restored"),
                        "SELECT memo FROM t_voucher"),
              ElementsAre("2019"));
}

TEST_F(StandinTest, RestoreRefusalsLeaveDatabasesAndFolderAsTheyWere) {
  const std::string ledger =
      MakeLedger("账套 A", "INSERT INTO t_voucher(memo) VALUES ('payload');");
  MakeLedger("B", "");
  const std::string bak = dir_ / "A's.bak", plain = dir_ / "plain.bak", text = dir_ / "text.bak";
  veltora::testing::WriteFile(text, "not a backup");
  auto server = Connected();
  server->Execute(BackupDatabaseStatement("账套 A", bak, SqlServerVersion{15, 0}));
  server->Execute(BackupDatabaseStatement("账套 A", plain, std::nullopt));  // no checksum
  const std::string movedBoth =
      " WITH MOVE N'账套 A' TO N'C:\\d\\n.mdf', MOVE N'账套 A_log' TO N'x'";
  auto restore = [&](const std::string& db, const std::string& file, const std::string& with) {
    return "RESTORE DATABASE " + QuoteSqlIdentifier(db) + " FROM DISK = " + QuoteSqlLiteral(file) +
           with;
  };
  const std::string restoreEnd = "\nRESTORE DATABASE is terminating abnormally.";
  struct Case {
    std::string statement, error;
  } cases[] = {
      {restore("new", dir_ / "missing.bak", movedBoth),
       "Cannot open backup device '" + dir_ / "missing.bak" +
           "'. Operating system error 2(The system cannot find the file specified.)." + restoreEnd},
      {RestoreFileListStatement(text),
       "The media family on device '" + text +
           "' is incorrectly formed. SQL Server cannot process this media family.\nRESTORE "
           "FILELIST is terminating abnormally."},
      // A database file is no backup set.
      {RestoreVerifyStatement(ledger, std::nullopt),
       "The media family on device '" + ledger +
           "' is incorrectly formed. SQL Server cannot process this media family.\nVERIFY "
           "DATABASE is terminating abnormally."},
      {RestoreVerifyStatement(plain, SqlServerVersion{9, 0}),
       "RESTORE WITH CHECKSUM cannot be specified because the backup set does not contain "
       "checksum information.\nVERIFY DATABASE is terminating abnormally."},
      {restore("B", bak, movedBoth),
       "The backup set holds a backup of a database other than the existing 'B' database." +
           restoreEnd},
      {restore("账套 A", bak, ""),
       "The tail of the log for the database \"账套 A\" has not been backed up. Use BACKUP LOG "
       "WITH NORECOVERY to backup the log if it contains work you do not want to lose. Use the "
       "WITH REPLACE or WITH STOPAT clause of the RESTORE statement to just overwrite the "
       "contents of the log." +
           restoreEnd},
      {restore("new", bak, " WITH MOVE N'AIS' TO N'x'"),
       "Logical file 'AIS' is not part of database 'new'. Use RESTORE FILELISTONLY to list the "
       "logical file names." +
           restoreEnd},
      {restore("new", bak, " WITH MOVE N'账套 A' TO N'x'"),
       "The file '" + Utf8FromPath(PathFromUtf8(folder_) / PathFromUtf8("账套 A_log.ldf")) +
           "' cannot be overwritten. It is being used by database '账套 A'." + restoreEnd},
      {restore("master", bak, movedBoth + ", REPLACE"),
       "Exclusive access could not be obtained because the database is in use." + restoreEnd},
      {"RESTORE HEADERONLY FROM DISK = N'f'", "Incorrect syntax near 'HEADERONLY'."},
      {"RESTORE DATABASE [n] FROM DISK = N'f' WITH MOVE N'a' N'b'",
       "Incorrect syntax near 'N'b''."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statement);
    EXPECT_EQ(CaughtSqlError([&] { server->Execute(c.statement); }), c.error);
  }
  EXPECT_THAT(Column(server->Query("SELECT name FROM sysdatabases"), "name"),
              ElementsAre("B", "master", "账套 A"));
  EXPECT_THAT(veltora::testing::FilesIn(folder_),
              ElementsAre("B.mdf", "master.mdf", "server.sqlite", "账套 A.mdf"));

  // Damage in a row is the checksum's to find: unasked for, it is not seen.
  const std::string damaged = dir_ / "damaged.bak";
  std::string withChecksum = veltora::testing::ReadFile(bak);
  withChecksum[withChecksum.rfind("payload")] ^= 0x01;
  veltora::testing::WriteFile(damaged, withChecksum);
  EXPECT_EQ(CaughtSqlError([&] { server->Execute(RestoreVerifyStatement(damaged, std::nullopt)); }),
            "Damage to the backup set was detected.\nVERIFY DATABASE is terminating abnormally.");
  EXPECT_NO_THROW(server->Execute("RESTORE VERIFYONLY FROM DISK = " + QuoteSqlLiteral(damaged) +
                                  " WITH NO_CHECKSUM"));

  StandinSqlServer::SetProductVersion(folder_, "8.00.2039");
  EXPECT_EQ(CaughtSqlError([&] {
              server->Execute(RestoreVerifyStatement(bak, SqlServerVersion{9, 0}));
            }),
            "Incorrect syntax near 'CHECKSUM'.");
}

TEST(RestoreStatementTest, QuotesEveryValueAndAddsChecksumFrom2005) {
  const std::vector<DatabaseFileMove> moves = {{"AIS'1", "C:\\DATA\\a]b's.mdf"},
                                               {"AIS'1_log", "C:\\DATA\\a]b's_log.ldf"}};
  EXPECT_EQ(RestoreFileListStatement("D:\\备份\\it's.bak"),
            "RESTORE FILELISTONLY FROM DISK = N'D:\\备份\\it''s.bak'");
  EXPECT_EQ(RestoreVerifyStatement("x's.bak", SqlServerVersion{9, 0}),
            "RESTORE VERIFYONLY FROM DISK = N'x''s.bak' WITH CHECKSUM");
  EXPECT_EQ(RestoreVerifyStatement("x.bak", SqlServerVersion{8, 0}),
            "RESTORE VERIFYONLY FROM DISK = N'x.bak'");
  EXPECT_EQ(RestoreDatabaseStatement("a]b's", "x.bak", moves, true, SqlServerVersion{15, 0}),
            "RESTORE DATABASE [a]]b's] FROM DISK = N'x.bak' WITH MOVE N'AIS''1' TO "
            "N'C:\\DATA\\a]b''s.mdf', MOVE N'AIS''1_log' TO N'C:\\DATA\\a]b''s_log.ldf', REPLACE, "
            "CHECKSUM");
  EXPECT_EQ(RestoreDatabaseStatement("a", "x.bak", {}, false, std::nullopt),
            "RESTORE DATABASE [a] FROM DISK = N'x.bak'");
}

TEST(RestoredFileMovesTest, NamesTheFilesAfterTheNewDatabaseInTheDataFolder) {
  auto file = [](const std::string& logical, const std::string& type) {
    SqlRow row;
    row.Add("LogicalName", logical);
    row.Add("PhysicalName", "C:\\old\\" + logical);
    row.Add("Type", type);
    return row;
  };
  const std::vector<SqlRow> list = {file("AIS", "D"), file("AIS_log", "L"), file("AIS_2", "D "),
                                    file("AIS_log2", "L")};
  struct Case {
    std::string folder, database;
    std::vector<std::string> paths;
  } cases[] = {
      {"C:\\DATA\\",
       "测试 账套's]1",
       {"C:\\DATA\\测试 账套's]1.mdf", "C:\\DATA\\测试 账套's]1_log.ldf",
        "C:\\DATA\\测试 账套's]1_1.ndf", "C:\\DATA\\测试 账套's]1_2.ndf"}},
      {"/var/opt/mssql/data",
       "a:b|c\"d. ",
       {"/var/opt/mssql/data/a_b_c_d__.mdf", "/var/opt/mssql/data/a_b_c_d___log.ldf",
        "/var/opt/mssql/data/a_b_c_d___1.ndf", "/var/opt/mssql/data/a_b_c_d___2.ndf"}},
      {"D:\\SQL",
       "con",
       {"D:\\SQL\\con_.mdf", "D:\\SQL\\con__log.ldf", "D:\\SQL\\con__1.ndf",
        "D:\\SQL\\con__2.ndf"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.database);
    const auto moves = RestoredFileMoves(list, c.folder, c.database);
    ASSERT_EQ(moves.size(), 4u);
    std::vector<std::string> paths;
    for (const auto& move : moves) paths.push_back(move.physicalPath);
    EXPECT_EQ(paths, c.paths);
    EXPECT_EQ(moves[2].logicalName, "AIS_2");
  }
}

TEST(ProductVersionTest, ReadsMajorAndMinorOrNothing) {
  struct Case {
    std::string text;
    std::optional<SqlServerVersion> version;
  } cases[] = {
      {"8.00.2039", SqlServerVersion{8, 0}},
      {"9.00.1399.06", SqlServerVersion{9, 0}},
      {"10.50.1600.1", SqlServerVersion{10, 50}},
      {" 16.0.1000.6 ", SqlServerVersion{16, 0}},
      {"11.0", SqlServerVersion{11, 0}},
      {"", std::nullopt},
      {"16", std::nullopt},
      {"x.1", std::nullopt},
      {"16.x", std::nullopt},
      {"9999999.0", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseProductVersion(c.text), c.version);
  }
}

TEST(StandinDatabaseFileNameTest, EncodesOnlyWhatFileNamesCannotHold) {
  struct Case {
    std::string name, file;
  } cases[] = {
      {"AcctCtl", "AcctCtl.mdf"},
      {"测试 账套's]1", "测试 账套's]1.mdf"},
      {"a/b", "a%2Fb.mdf"},
      {"50%", "50%25.mdf"},
      {"tab\there", "tab%09here.mdf"},
      {"c:\\x*?", "c%3A%5Cx%2A%3F.mdf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StandinSqlServer::DatabaseFileName(c.name), c.file);
  }
}

}  // namespace
}  // namespace veltora
