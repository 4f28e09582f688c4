// The archive-password group: old, new and confirm fields, Enter walking
// through them, the tick that opens the group, and the check the save runs
// while the group is ticked.
//
// The password in force changes only once the new one is stored: an archive
// must never get a password that the next start of the program would not
// know.

#include <exception>
#include <string>
#include <string_view>

#include "base/text.h"
#include "ui/main_window_presenter.h"
#include "ui/messages.h"
#include "ui/presenter_support.h"

namespace veltora {

using namespace ui_detail;

namespace {

constexpr std::size_t kMaxArchivePasswordLength = 31;

// A password never holds these: on a command line they read as switches,
// wildcards or a word break.
bool HasForbiddenCharacter(std::string_view password) {
  return password.find_first_of(" -+/*?") != std::string_view::npos;
}

bool TooLong(std::string_view password) {
  return CharacterCount(password) > kMaxArchivePasswordLength;
}

}  // namespace

void MainWindowPresenter::PutArchivePasswordInForce(const std::string& password) {
  archivePassword_ = password;
  config_.archivePassword = password;
}

void MainWindowPresenter::PasswordGroupTicked() {
  Guarded([&] {
    const bool open = view_.Checked(Control::kPasswordGroup);
    view_.SetEnabled(Control::kNewArchivePassword, open);
    view_.SetEnabled(Control::kConfirmArchivePassword, open);
    // With no password in force there is nothing to type as the old one: the
    // empty old entry matches.
    view_.SetEnabled(Control::kOldArchivePassword, !archivePassword_.empty());
  });
}

void MainWindowPresenter::ClearPasswordGroup() {
  view_.SetChecked(Control::kPasswordGroup, false);
  view_.SetText(Control::kOldArchivePassword, "");
  view_.SetText(Control::kNewArchivePassword, "");
  view_.SetText(Control::kConfirmArchivePassword, "");
  PasswordGroupTicked();
}

void MainWindowPresenter::OldPasswordEnter() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  const std::string oldEntry = view_.Text(Control::kOldArchivePassword);
  if (oldEntry != archivePassword_)
    return Refuse(ui_msg::kOldPasswordWrong, Control::kOldArchivePassword);
  if (HasForbiddenCharacter(oldEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kOldArchivePassword);
  view_.SelectAll(Control::kNewArchivePassword);
  view_.Focus(Control::kNewArchivePassword);
}

void MainWindowPresenter::NewPasswordEnter() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  if (view_.Text(Control::kOldArchivePassword) != archivePassword_)
    return Refuse(ui_msg::kOldPasswordWrong, Control::kOldArchivePassword);
  const std::string newEntry = view_.Text(Control::kNewArchivePassword);
  if (HasForbiddenCharacter(newEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kNewArchivePassword);
  if (HasControlCharacter(Trim(newEntry)))
    return Refuse(ui_msg::kPasswordControlCharacter, Control::kNewArchivePassword);
  if (TooLong(newEntry)) return Refuse(ui_msg::kPasswordTooLong, Control::kNewArchivePassword);
  view_.SelectAll(Control::kConfirmArchivePassword);
  view_.Focus(Control::kConfirmArchivePassword);
}

void MainWindowPresenter::ConfirmPasswordEnter() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  if (view_.Text(Control::kOldArchivePassword) != archivePassword_)
    return Refuse(ui_msg::kOldPasswordWrong, Control::kOldArchivePassword);
  const std::string confirmEntry = view_.Text(Control::kConfirmArchivePassword);
  if (HasForbiddenCharacter(confirmEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kConfirmArchivePassword);
  if (HasControlCharacter(Trim(confirmEntry)))
    return Refuse(ui_msg::kPasswordControlCharacter, Control::kConfirmArchivePassword);
  if (view_.Text(Control::kNewArchivePassword) != confirmEntry)
    return Refuse(ui_msg::kPasswordMismatch, Control::kConfirmArchivePassword);
  if (TooLong(confirmEntry))
    return Refuse(ui_msg::kPasswordTooLong, Control::kConfirmArchivePassword);

  const std::string password = Trim(view_.Text(Control::kNewArchivePassword));
  try {
    s_.openSettings()->UpdateArchivePassword(password);
  } catch (const std::exception& e) {
    // The old password stays in force and the entries stay for another try.
    view_.ShowWarning(std::string(ui_msg::kPasswordNotSaved) + e.what());
    return;
  }
  PutArchivePasswordInForce(password);
  view_.ShowNotice(ui_msg::kPasswordSaved);
  ClearPasswordGroup();
}

std::optional<std::string> MainWindowPresenter::CheckArchivePasswordForSave() {
  try {
    const std::string oldEntry = view_.Text(Control::kOldArchivePassword);
    const std::string newEntry = view_.Text(Control::kNewArchivePassword);
    const std::string confirmEntry = view_.Text(Control::kConfirmArchivePassword);
    const struct {
      bool refused;
      const char* message;
      Control field;
    } rules[] = {
        {oldEntry != archivePassword_, ui_msg::kOldPasswordWrong, Control::kOldArchivePassword},
        {HasForbiddenCharacter(oldEntry), ui_msg::kPasswordForbiddenCharacter,
         Control::kOldArchivePassword},
        {HasForbiddenCharacter(newEntry), ui_msg::kPasswordForbiddenCharacter,
         Control::kNewArchivePassword},
        {HasForbiddenCharacter(confirmEntry), ui_msg::kPasswordForbiddenCharacter,
         Control::kConfirmArchivePassword},
        // Inside the password as it is stored (trimmed); not the old entry, so
        // that a stored password with a tab can still be replaced.
        {HasControlCharacter(Trim(newEntry)), ui_msg::kPasswordControlCharacter,
         Control::kNewArchivePassword},
        {HasControlCharacter(Trim(confirmEntry)), ui_msg::kPasswordControlCharacter,
         Control::kConfirmArchivePassword},
        {newEntry != confirmEntry, ui_msg::kPasswordMismatch, Control::kConfirmArchivePassword},
        {TooLong(newEntry), ui_msg::kPasswordTooLong, Control::kNewArchivePassword},
        {TooLong(confirmEntry), ui_msg::kPasswordTooLong, Control::kConfirmArchivePassword},
    };
    for (const auto& rule : rules) {
      if (rule.refused) {
        Refuse(rule.message, rule.field);
        return std::nullopt;
      }
    }
    return Trim(newEntry);
  } catch (...) {
    view_.ShowWarning(ui_msg::kPasswordCheckFailed);
    view_.Focus(Control::kOldArchivePassword);
    return std::nullopt;
  }
}

}  // namespace veltora
