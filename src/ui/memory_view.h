// A main window held in memory: the controls' values in plain members, and a
// record of the messages, focus moves and selections the presenter asked for.
// The headless front ends (the agent, `veltora-cli settings`) show the
// recorded messages their own way; tests read them back.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/messages.h"
#include "ui/main_window_view.h"

namespace veltora {

enum class MessageStyle { kWarning, kNotice, kError };

struct ShownMessage {
  MessageStyle style;
  std::string text;
  friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

class MemoryView : public MainWindowView {
 public:
  MemoryView() {
    texts_[Control::kBackupTime] = "01:30:00";
    texts_[Control::kDaysBetweenBackups] = "1";
    texts_[Control::kKeepCount] = "0";
    texts_[Control::kConnectTimeout] = "27";
    texts_[Control::kCommandTimeout] = "1800";
    checked_[Control::kLocalBackup] = true;
    enabled_[Control::kLocalBackup] = false;
    indexes_[Control::kEdition] = 0;
    indexes_[Control::kCompressionLevel] = 3;
  }

  std::string Text(Control c) const override { return Get(texts_, c, std::string()); }
  void SetText(Control c, const std::string& text) override { texts_[c] = text; }
  bool Checked(Control c) const override { return Get(checked_, c, false); }
  void SetChecked(Control c, bool on) override { checked_[c] = on; }
  bool Enabled(Control c) const override { return Get(enabled_, c, true); }
  void SetEnabled(Control c, bool on) override { enabled_[c] = on; }
  int ItemIndex(Control c) const override { return Get(indexes_, c, -1); }
  void SetItemIndex(Control c, int index) override { indexes_[c] = index; }
  int ItemCount(Control c) const override {
    if (c == Control::kEdition) return 4;
    if (c == Control::kCompressionLevel)
      return static_cast<int>(std::size(app_msg::kCompressionLevelNames));
    return 0;
  }

  std::vector<AccountSetEntry> AccountRows() const override { return rows_; }
  void SetAccountRows(const std::vector<AccountSetEntry>& rows) override { rows_ = rows; }
  void SetNumberColumnWidth(int width) override { numberColumnWidth_ = width; }
  void ShowAccountPage(AccountPage page) override { page_ = page; }

  void Focus(Control c) override { focus_ = c; }
  void SelectAll(Control c) override { selected_ = c; }

  void ShowWarning(const std::string& text) override {
    messages_.push_back({MessageStyle::kWarning, text});
  }
  void ShowNotice(const std::string& text) override {
    messages_.push_back({MessageStyle::kNotice, text});
  }
  void ShowError(const std::string& text) override {
    messages_.push_back({MessageStyle::kError, text});
  }
  std::string BrowseForFolder(const std::string& prompt) override {
    browsePrompts_.push_back(prompt);
    return browseAnswer_;
  }

  void SetNextBackupText(const std::string& text) override { nextBackupText_ = text; }
  void SetStatus(const std::string& text, StatusColour colour) override {
    statusText_ = text;
    statusColour_ = colour;
  }

  void SetTrayVisible(bool visible) override { trayVisible_ = visible; }
  void SetBackupAlarm(const std::string& overdue, bool announce) override {
    backupAlarm_ = overdue;
    if (announce) ++alarmAnnouncements_;
  }
  void HideToTray() override { hidden_ = true; }
  void ShowNormal() override { hidden_ = false; }
  bool HiddenInTray() const override { return hidden_; }
  void ProcessPendingMessages() override { ++pendingMessageRounds_; }
  void ShowBackupLog() override { ++backupLogOpened_; }
  void EndProgram() override { ended_ = true; }

  // What was asked of the view.
  const std::vector<ShownMessage>& messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }
  std::optional<Control> focus() const { return focus_; }
  std::optional<Control> selected() const { return selected_; }
  void ClearFocus() {
    focus_.reset();
    selected_.reset();
  }
  int numberColumnWidth() const { return numberColumnWidth_; }
  // The tray's alarm: the overdue text ("" when all are current) and the
  // balloons asked for.
  const std::string& backupAlarm() const { return backupAlarm_; }
  int alarmAnnouncements() const { return alarmAnnouncements_; }
  AccountPage page() const { return page_; }
  const std::string& nextBackupText() const { return nextBackupText_; }
  const std::string& statusText() const { return statusText_; }
  StatusColour statusColour() const { return statusColour_; }
  bool trayVisible() const { return trayVisible_; }
  bool ended() const { return ended_; }
  int backupLogOpened() const { return backupLogOpened_; }
  int pendingMessageRounds() const { return pendingMessageRounds_; }
  const std::vector<std::string>& browsePrompts() const { return browsePrompts_; }
  // What the folder picker answers next ("" = cancelled).
  void SetBrowseAnswer(std::string folder) { browseAnswer_ = std::move(folder); }

 private:
  template <typename Map, typename Value>
  static Value Get(const Map& map, Control c, Value fallback) {
    const auto it = map.find(c);
    return it == map.end() ? fallback : it->second;
  }

  std::map<Control, std::string> texts_;
  std::map<Control, bool> checked_;
  std::map<Control, bool> enabled_;
  std::map<Control, int> indexes_;
  std::vector<AccountSetEntry> rows_;
  int numberColumnWidth_ = 70;
  AccountPage page_ = AccountPage::kFolder;
  std::optional<Control> focus_;
  std::optional<Control> selected_;
  std::vector<ShownMessage> messages_;
  std::vector<std::string> browsePrompts_;
  std::string browseAnswer_;
  std::string nextBackupText_;
  std::string statusText_;
  StatusColour statusColour_ = StatusColour::kGreen;
  bool trayVisible_ = false;
  std::string backupAlarm_;
  int alarmAnnouncements_ = 0;
  bool hidden_ = false;
  bool ended_ = false;
  int backupLogOpened_ = 0;
  int pendingMessageRounds_ = 0;
};

}  // namespace veltora
