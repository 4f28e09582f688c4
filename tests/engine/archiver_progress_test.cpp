#include "engine/archiver_progress.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace veltora {

void PrintTo(const ArchiverEvent& e, std::ostream* os) {
  *os << (e.kind == ArchiverEvent::Kind::kPercent       ? "P"
          : e.kind == ArchiverEvent::Kind::kItemStarted ? "Started"
          : e.kind == ArchiverEvent::Kind::kItemPacked  ? "Packed"
                                                        : "M")
      << "(" << e.value << e.text << ")";
}

namespace {

using Kind = ArchiverEvent::Kind;
ArchiverEvent P(int percent) { return {Kind::kPercent, percent, {}}; }
ArchiverEvent Started(int item) { return {Kind::kItemStarted, item, {}}; }
ArchiverEvent Packed(int item) { return {Kind::kItemPacked, item, {}}; }
ArchiverEvent M(const char* text) { return {Kind::kMessage, 0, text}; }

std::string Backspaces(int n) { return std::string(static_cast<std::size_t>(n), '\b'); }

// What `7zz a -bso0 -bsp1` wrote for an 8 MiB file (captured), update by
// update: the scan, then each value written over the last one.
const std::string kScan = "  0M Scan " + Backspaces(10) + std::string(10, ' ') + Backspaces(10);
const std::string kZero = "  0%" + Backspaces(4) + "    " + Backspaces(4);
std::string Update(const std::string& percent) {
  return percent + " + big.bak" + Backspaces(14) + std::string(14, ' ') + Backspaces(14);
}

// `7zz t -bso0 -bsp1` of a small archive (captured): done before a second value.
const std::string kTestRun = "  0M Scan" + Backspaces(9) + std::string(9, ' ') + Backspaces(9) +
                             "  0%" + Backspaces(4) + "    " + Backspaces(4);

TEST(ArchiverOutputParserTest, Table) {
  const std::string wholeRun = kScan + kZero + Update(" 24%") + Update(" 47%") + Update(" 65%") +
                               Update(" 80%") + Update(" 95%");
  const struct Case {
    const char* what;
    std::vector<std::string> chunks;
    std::vector<ArchiverEvent> events;
  } cases[] = {
      {"7zz a, update by update",
       {kScan, kZero, Update(" 24%"), Update(" 47%"), Update(" 65%"), Update(" 80%"),
        Update(" 95%")},
       {P(0), P(24), P(47), P(65), P(80), P(95)}},
      {"7zz a, the whole run in one read: the last value counts", {wholeRun}, {P(95)}},
      {"7zz t, a small archive", {kTestRun}, {P(0)}},
      {"a value at the end of a read, before its separator", {"  0%"}, {P(0)}},
      {"a value cut between two reads", {" 3", "7% + big.bak\b\b"}, {P(37)}},
      {"a name cut between two reads counts once", {" 37% + bi", "g.bak\b\b"}, {P(37)}},
      {"carriage returns", {"\r 12%\r 13%\r"}, {P(13)}},
      {"carriage returns, read by read", {"\r 12%", "\r 13%\r"}, {P(12), P(13)}},
      {"100%", {"100%\b\b\b\b"}, {P(100)}},
      {"digits and % in the name", {" 24% + 50% off 99%.bak\b\b", "+ 99%.bak\b"}, {P(24)}},
      {"no percentage; a line is a message",
       {"Everything is Ok\n", kScan, "1234%\b", "101%\b", "%\b", " 5 %\b"},
       {M("Everything is Ok")}},
      {"marker lines frame each backup",
       {"\n@pack 1\n" + kZero + Update(" 42%") + "\n@packed 1\n", "\n@pack 2\n"},
       {Started(1), P(42), Packed(1), Started(2)}},
      {"a marker cut between reads",
       {"\n@pa", "ck 3\n", "\n@packed 3", "\n"},
       {Started(3), Packed(3)}},
      {"only whole marker lines",
       {"x@pack 1\n@pack 2x\n@pack\n@packed\n"},
       {M("x@pack 1"), M("@pack 2x"), M("@pack"), M("@packed")}},
      {"marker lines of cmd.exe end in CR LF",
       {"\r\n@pack 1\r\n@packed 1\r\n"},
       {Started(1), Packed(1)}},
      {"7-Zip's error after its progress (-bse1)",
       {"@pack 1\n" + kScan + "\nSystem ERROR:\nerrno=28 : No space left on dev", "ice\n"},
       {Started(1), M("System ERROR:"), M("errno=28 : No space left on device")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiverOutputParser parser;
    std::vector<ArchiverEvent> events;
    for (const auto& chunk : c.chunks) {
      const auto more = parser.Feed(chunk);
      events.insert(events.end(), more.begin(), more.end());
    }
    EXPECT_EQ(events, c.events);
  }
}

TEST(ArchiverErrorTextTest, WhatTheArchiverSaidWentWrong) {
  const struct {
    std::vector<std::string> messages;
    std::string text;
  } cases[] = {
      {{"System ERROR:", "errno=28 : No space left on device"}, "No space left on device"},
      {{"System ERROR:", "There is not enough space on the disk."},
       "There is not enough space on the disk."},
      {{"Scanning", "ERROR: t.7z", "Cannot open encrypted archive. Wrong password?", "ERRORS:"},
       "t.7z Cannot open encrypted archive. Wrong password?"},
      {{"Everything is Ok"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ArchiverErrorText(c.messages), c.text);
}

}  // namespace
}  // namespace veltora
