// The account-set list: the edition, the folder of the file editions, the
// catalogue of the SQL editions, and the tick commands of the list's menu.

#include <memory>
#include <string>

#include "accounts/account_sets.h"
#include "accounts/messages.h"
#include "base/text.h"
#include "ui/main_window_presenter.h"
#include "ui/messages.h"
#include "ui/presenter_support.h"

namespace veltora {

using namespace ui_detail;

void MainWindowPresenter::EditionChanged() {
  Guarded([&] {
    const bool sql = IsSqlEdition(view_.ItemIndex(Control::kEdition));
    view_.ShowAccountPage(sql ? AccountPage::kSqlServer : AccountPage::kFolder);
    view_.SetNumberColumnWidth(sql ? kNumberColumnSqlWidth : kNumberColumnHidden);
    // Another edition's account sets are never this one's.
    view_.SetAccountRows({});
  });
}

void MainWindowPresenter::BrowseAccountFolderClicked() {
  Guarded([&] {
    const std::string folder = Trim(view_.BrowseForFolder(ui_msg::kBrowsePrompt));
    // Account sets are opened where they lie; a share is no place for them.
    if (folder.empty() || IsSharePath(folder)) return;
    view_.SetText(Control::kAccountFolder, folder);
    view_.SetAccountRows({});
    view_.SetAccountRows(ListAisAccountSets(folder, nullptr));
    view_.SetNumberColumnWidth(kNumberColumnHidden);
  });
}

void MainWindowPresenter::ListSqlAccountSetsClicked() {
  Guarded([&] {
    view_.SetAccountRows({});
    view_.SetNumberColumnWidth(kNumberColumnSqlWidth);
    const int edition = view_.ItemIndex(Control::kEdition);
    const std::string user = TrimField(Control::kSqlUser);
    if (user.empty()) {
      view_.ShowWarning(accounts_msg::kEnterSqlUser);
      view_.Focus(Control::kSqlUser);
      return;
    }
    Guarded([&] {
      if (s_.ensureSqlServerRunning) s_.ensureSqlServerRunning();
    });
    // A connection of its own: a running backup keeps its connection.
    auto cn = s_.sqlServer.Create(config_.timeouts);
    std::unique_ptr<SettingsDatabase> db;
    const CatalogueListing listing = ListCatalogueAccountSets(
        edition, user, view_.Text(Control::kSqlPassword), *cn, [&](const std::string& number) {
          if (!db) db = s_.openSettings();
          return db->IsAccountIdStored(number);
        });
    view_.SetAccountRows(listing.entries);
    switch (listing.outcome) {
      case CatalogueListing::Outcome::kListed:
        break;
      case CatalogueListing::Outcome::kCatalogueMissing:
        view_.ShowNotice(listing.message);
        break;
      case CatalogueListing::Outcome::kFailed:
        view_.ShowWarning(listing.message);
        break;
    }
  });
}

void MainWindowPresenter::SqlUserEnter() {
  if (TrimField(Control::kSqlUser).empty()) {
    view_.ShowWarning(accounts_msg::kEnterSqlUser);
    view_.Focus(Control::kSqlUser);
    return;
  }
  view_.Focus(Control::kSqlPassword);
}

void MainWindowPresenter::SetTicks(bool (*tick)(bool)) {
  Guarded([&] {
    auto rows = view_.AccountRows();
    if (rows.empty()) return;
    for (AccountSetEntry& row : rows) row.ticked = tick(row.ticked);
    view_.SetAccountRows(rows);
  });
}

void MainWindowPresenter::TickAllClicked() {
  SetTicks([](bool) { return true; });
}

void MainWindowPresenter::TickNoneClicked() {
  SetTicks([](bool) { return false; });
}

void MainWindowPresenter::InvertTicksClicked() {
  SetTicks([](bool ticked) { return !ticked; });
}

}  // namespace veltora
