#include "accounts/account_sets.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "sqlserver/standin_sql_server.h"
#include "support/temp_dir.h"

namespace veltora {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

TEST(AccountSetsTest, FolderListingTakesAisFilesOnlyAndTicksStoredNames) {
  TempDir dir;
  for (const char* name : {"b.ais", "A.AIS", "C.txt", ".hidden.AIS", "账套 一.AIS"})
    WriteFile(dir / name, "x");
  fs::create_directory(dir / "X.AIS");
  const auto entries =
      ListAisAccountSets(dir.str(), [](const std::string& n) { return n == "b.ais"; });
  std::vector<std::string> names;
  for (const auto& e : entries) {
    names.push_back(e.name);
    EXPECT_EQ(e.database, e.name);
    EXPECT_TRUE(e.number.empty());
    EXPECT_EQ(e.ticked, e.name == "b.ais");
  }
  EXPECT_EQ(names, (std::vector<std::string>{".hidden.AIS", "A.AIS", "b.ais", "账套 一.AIS"}));

  std::vector<std::string> none;
  EXPECT_FALSE(ListFileNames(dir / "missing", "*.AIS", none));
  EXPECT_TRUE(none.empty());
}

class CatalogueTest : public ::testing::Test {
 protected:
  CatalogueTest() { StandinSqlServer::CreateServer(dir_.str(), {{"sa", "pw"}}); }

  void MakeCatalogue(const std::string& name) {
    sqlite3* db = nullptr;
    sqlite3_open(StandinSqlServer::CreateDatabase(dir_.str(), name).c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE t_ad_kdAccount_gl(FAcctID, FAcctNumber, FAcctName, FDBName);"
                 "INSERT INTO t_ad_kdAccount_gl VALUES(3, '003', '丙', 'AIS_C'),"
                 "(1, '001', '甲', 'AIS_A'), (NULL, '000', 'template', 'T'),"
                 "(2, '002', 'O''Brien', 'AIS_B');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }

  CatalogueListing List(int edition, const std::string& password) {
    StandinSqlServer cn(dir_.str(), {});
    return ListCatalogueAccountSets(edition, "sa", password, cn,
                                    [](const std::string& number) { return number == "002"; });
  }

  TempDir dir_;
};

TEST_F(CatalogueTest, ListsAccountSetsInNumberOrderWithStoredOnesTicked) {
  MakeCatalogue("AcctCtl");
  const auto listing = List(2, "pw");
  ASSERT_EQ(listing.outcome, CatalogueListing::Outcome::kListed) << listing.message;
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].number, "001");
  EXPECT_EQ(listing.entries[1].name, "O'Brien");
  EXPECT_EQ(listing.entries[1].database, "AIS_B");
  EXPECT_TRUE(listing.entries[1].ticked);
  EXPECT_FALSE(listing.entries[0].ticked);
  EXPECT_EQ(listing.entries[2].name, "丙");
}

TEST_F(CatalogueTest, MissingCatalogueAndRefusedLoginGiveTheirMessages) {
  MakeCatalogue("AcctCtl");
  auto listing = List(3, "pw");  // K3 looks for KDAcctDB
  EXPECT_EQ(listing.outcome, CatalogueListing::Outcome::kCatalogueMissing);
  EXPECT_EQ(listing.message, "您好，没有找到您电脑上有安装金蝶K3系统的账套文件。");

  listing = List(2, "wrong");
  EXPECT_EQ(listing.outcome, CatalogueListing::Outcome::kFailed);
  EXPECT_EQ(listing.message,
            "您好，程序无法与数据库建立连接，请检查用户名或密码是否输入有误，或者SQL "
            "Server服务是否启动！\r发生错误可能的原因为：Login failed for user 'sa'.");
  EXPECT_TRUE(listing.entries.empty());
}

}  // namespace
}  // namespace veltora
