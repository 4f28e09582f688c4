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

void MainWindowPresenter::bsSkinGroupBox8Checked() {
  Guarded([&] {
    const bool open = view_.Checked(Control::kPasswordGroup);
    view_.SetEnabled(Control::kRNPWD, open);
    view_.SetEnabled(Control::kRQPWD, open);
    // With no password in force there is nothing to type as the old one: the
    // empty old entry matches.
    view_.SetEnabled(Control::kROPWD, !archivePassword_.empty());
  });
}

void MainWindowPresenter::ClearPasswordGroup() {
  view_.SetChecked(Control::kPasswordGroup, false);
  view_.SetText(Control::kROPWD, "");
  view_.SetText(Control::kRNPWD, "");
  view_.SetText(Control::kRQPWD, "");
  bsSkinGroupBox8Checked();
}

void MainWindowPresenter::ROPWDKeyPress() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  const std::string oldEntry = view_.Text(Control::kROPWD);
  if (oldEntry != archivePassword_) return Refuse(ui_msg::kOldPasswordWrong, Control::kROPWD);
  if (HasForbiddenCharacter(oldEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kROPWD);
  view_.SelectAll(Control::kRNPWD);
  view_.Focus(Control::kRNPWD);
}

void MainWindowPresenter::RNPWDKeyPress() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  if (view_.Text(Control::kROPWD) != archivePassword_)
    return Refuse(ui_msg::kOldPasswordWrong, Control::kROPWD);
  const std::string newEntry = view_.Text(Control::kRNPWD);
  if (HasForbiddenCharacter(newEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kRNPWD);
  if (TooLong(newEntry)) return Refuse(ui_msg::kPasswordTooLong, Control::kRNPWD);
  view_.SelectAll(Control::kRQPWD);
  view_.Focus(Control::kRQPWD);
}

void MainWindowPresenter::RQPWDKeyPress() {
  if (!view_.Checked(Control::kPasswordGroup)) return;
  if (view_.Text(Control::kROPWD) != archivePassword_)
    return Refuse(ui_msg::kOldPasswordWrong, Control::kROPWD);
  const std::string confirmEntry = view_.Text(Control::kRQPWD);
  if (HasForbiddenCharacter(confirmEntry))
    return Refuse(ui_msg::kPasswordForbiddenCharacter, Control::kRQPWD);
  if (view_.Text(Control::kRNPWD) != confirmEntry)
    return Refuse(ui_msg::kPasswordMismatch, Control::kRQPWD);
  if (TooLong(confirmEntry)) return Refuse(ui_msg::kPasswordTooLong, Control::kRQPWD);

  const std::string password = Trim(view_.Text(Control::kRNPWD));
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
    const std::string oldEntry = view_.Text(Control::kROPWD);
    const std::string newEntry = view_.Text(Control::kRNPWD);
    const std::string confirmEntry = view_.Text(Control::kRQPWD);
    const struct {
      bool refused;
      const char* message;
      Control field;
    } rules[] = {
        {oldEntry != archivePassword_, ui_msg::kOldPasswordWrong, Control::kROPWD},
        {HasForbiddenCharacter(oldEntry), ui_msg::kPasswordForbiddenCharacter, Control::kROPWD},
        {HasForbiddenCharacter(newEntry), ui_msg::kPasswordForbiddenCharacter, Control::kRNPWD},
        {HasForbiddenCharacter(confirmEntry), ui_msg::kPasswordForbiddenCharacter, Control::kRQPWD},
        {newEntry != confirmEntry, ui_msg::kPasswordMismatch, Control::kRQPWD},
        {TooLong(newEntry), ui_msg::kPasswordTooLong, Control::kRNPWD},
        {TooLong(confirmEntry), ui_msg::kPasswordTooLong, Control::kRQPWD},
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
    view_.Focus(Control::kROPWD);
    return std::nullopt;
  }
}

}  // namespace veltora
