#include "accounts/account_sets.h"

#include <exception>

#include "accounts/messages.h"
#include "base/path.h"
#include "files/file_ops.h"
#include "files/folder_listing.h"

namespace veltora {

std::string EditionName(int edition) {
  static constexpr const char* kNames[kEditionCount] = {"金蝶KIS迷你版", "金蝶KIS标准版",
                                                        "金蝶KIS专业版", "金蝶K3系统"};
  return edition >= 0 && edition < kEditionCount ? kNames[edition] : "";
}

std::string CatalogueDatabase(int edition) {
  if (edition == 2) return "AcctCtl";
  if (edition == 3) return "KDAcctDB";
  return "";
}

bool ListFileNames(const std::string& folder, const std::string& mask,
                   std::vector<std::string>& names) {
  if (!FolderExists(folder)) return false;
  std::vector<std::string> paths;
  ListFolderEntries(&paths, folder, mask, false, kNoAttributeFilter, false, kFilesOnly);
  for (const auto& p : paths)
    names.push_back(NameInFolder(p));  // a name holding a backslash stays whole
  return true;
}

std::vector<AccountSetEntry> ListAisAccountSets(
    const std::string& folder, const std::function<bool(const std::string&)>& isStoredName) {
  std::vector<std::string> names;
  ListFileNames(folder, "*.AIS", names);
  std::vector<AccountSetEntry> entries;
  for (auto& name : names) {
    const bool ticked = isStoredName && isStoredName(name);
    entries.push_back({ticked, "", name, name});
  }
  return entries;
}

CatalogueListing ListCatalogueAccountSets(
    int edition, const std::string& user, const std::string& password, SqlServerConnection& cn,
    const std::function<bool(const std::string&)>& isStoredId) {
  CatalogueListing out;
  const std::string catalogue = CatalogueDatabase(edition);
  try {
    cn.Connect(user, password, "master");
    const auto found =
        cn.Query("SELECT  name FROM sysdatabases where name=" + QuoteSqlLiteral(catalogue));
    if (found.empty()) {
      out.outcome = CatalogueListing::Outcome::kCatalogueMissing;
      out.message = accounts_msg::kNoCataloguePrefix + EditionName(edition) +
                    accounts_msg::kNoCatalogueSuffix;
      cn.Close();
      return out;
    }
    cn.Connect(user, password, catalogue);
    const auto rows = cn.Query(
        "SELECT  * FROM t_ad_kdAccount_gl  where FacctID is not null order by FacctNumber ");
    for (const auto& row : rows) {
      AccountSetEntry entry{false, row.Get("FAcctNumber"), row.Get("FAcctName"),
                            row.Get("FDBName")};
      entry.ticked = isStoredId && isStoredId(entry.number);
      out.entries.push_back(std::move(entry));
    }
    out.outcome = CatalogueListing::Outcome::kListed;
  } catch (const std::exception& e) {
    out.outcome = CatalogueListing::Outcome::kFailed;
    out.message = std::string(accounts_msg::kCannotConnect) + e.what();
  }
  cn.Close();
  return out;
}

}  // namespace veltora
