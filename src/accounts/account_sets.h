// The Kingdee editions and the listing of their account sets: the .AIS files
// of a folder (file editions) or the rows of Kingdee's catalogue on the local
// SQL Server (SQL editions).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/account_set.h"
#include "sqlserver/sql_server_connection.h"

namespace veltora {

inline constexpr int kEditionCount = 4;
// "金蝶KIS迷你版", "金蝶KIS标准版", "金蝶KIS专业版", "金蝶K3系统"; empty outside 0..3.
std::string EditionName(int edition);
// "AcctCtl" (2) or "KDAcctDB" (3); empty for the file editions.
std::string CatalogueDatabase(int edition);

// Appends the names (without folder) of the files in `folder` that match the
// Windows mask, ASCII case ignored, in case-insensitive name order; hidden and
// read-only files count, folders do not. False (nothing appended) when the
// folder does not exist. It does not change the process's current folder:
// that is process-wide state other threads rely on.
bool ListFileNames(const std::string& folder, const std::string& mask,
                   std::vector<std::string>& names);

// The file editions' account-set list: one unticked entry per .AIS file,
// ticked where `isStoredName(fileName)` says the name was saved.
std::vector<AccountSetEntry> ListAisAccountSets(
    const std::string& folder, const std::function<bool(const std::string&)>& isStoredName);

struct CatalogueListing {
  enum class Outcome { kListed, kCatalogueMissing, kFailed };
  Outcome outcome = Outcome::kFailed;
  std::vector<AccountSetEntry> entries;  // in catalogue order; kept on failure
  std::string message;                   // the notice or warning text to show; empty when listed
};

// Reads the SQL edition's account sets from the Kingdee catalogue: checks the
// catalogue database exists (on "master"), then reads t_ad_kdAccount_gl and
// ticks the entries whose number `isStoredId` knows. The connection is closed
// on every path. `user` is trimmed by the caller.
CatalogueListing ListCatalogueAccountSets(
    int edition, const std::string& user, const std::string& password, SqlServerConnection& cn,
    const std::function<bool(const std::string&)>& isStoredId);

}  // namespace veltora
