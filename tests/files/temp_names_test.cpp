#include "files/temp_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace veltora {
namespace {

TEST(CopyMarkerTest, OneMarkerPerMachineAndApplicationFolder) {
  const CopyMarker mine = CopyMarker::For("ledger-pc", "/opt/veltora");
  EXPECT_EQ(mine.text().size(), 8u);
  EXPECT_EQ(mine.text().find_first_not_of("0123456789abcdef"), std::string::npos) << mine.text();

  // The same agent however its names are spelt.
  EXPECT_EQ(CopyMarker::For("LEDGER-PC", "/opt/veltora/"), mine);
  EXPECT_EQ(CopyMarker::For("ledger-pc", "/opt/veltora//"), mine);
  // Another agent as soon as the machine or the folder differs, even when the
  // two strings run together alike.
  const CopyMarker others[] = {
      CopyMarker::For("other-pc", "/opt/veltora"),
      CopyMarker::For("ledger-pc", "/opt/veltora2"),
      CopyMarker::For("ledger-pc/opt", "/veltora"),
      CopyMarker(),
  };
  std::set<std::string> seen{mine.text()};
  for (const CopyMarker& other : others) {
    SCOPED_TRACE(other.text());
    EXPECT_TRUE(seen.insert(other.text()).second);
  }
}

TEST(TemporaryCopyNameTest, FixedLengthMarkedAndFresh) {
  const CopyMarker mine = CopyMarker::For("ledger-pc", "/opt/veltora");
  const CopyMarker theirs = CopyMarker::For("other-pc", "/opt/veltora");
  std::string longest;
  for (int i = 0; i < 82; ++i) longest += "账";
  longest += ".rar";  // 250 bytes, near the 255 a file system allows

  std::set<std::string> names;
  for (const std::string& finalName :
       {std::string("a"), std::string("ACME20240501013000.7z"), longest}) {
    SCOPED_TRACE(finalName);
    const std::string name = TemporaryCopyName(mine, finalName);
    EXPECT_EQ(name.size(), kTemporaryCopyNameLength) << name;
    EXPECT_EQ(name.front(), '.') << "hidden on POSIX";
    EXPECT_TRUE(IsTemporaryCopyName(name));
    EXPECT_TRUE(IsTemporaryCopyName(name, mine));
    EXPECT_FALSE(IsTemporaryCopyName(name, theirs));
    EXPECT_TRUE(names.insert(name).second);
    // The same final name twice, as two copies at once would ask.
    EXPECT_TRUE(names.insert(TemporaryCopyName(mine, finalName)).second);
  }
}

TEST(TemporaryCopyNameTest, OtherNamesAreNoTemporaryCopies) {
  const std::string good = TemporaryCopyName(CopyMarker(), "a.rar");
  const std::string cases[] = {
      "a.rar",
      "",
      good.substr(1),                                   // no dot
      good + "x",                                       // longer
      good.substr(0, good.size() - 1) + "x",            // another ending
      "." + good.substr(1, 8) + "X" + good.substr(10),  // not hex
      "~a.rar.veltora-part",
      ".a.rar.part-Ab12Cd",
  };
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(IsTemporaryCopyName(name));
    EXPECT_FALSE(IsTemporaryCopyName(name, CopyMarker()));
  }
}

TEST(RandomTokenTest, LowercaseLettersAndDigits) {
  const std::string token = RandomToken(64);
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"), std::string::npos);
  EXPECT_NE(RandomToken(16), RandomToken(16));
}

}  // namespace
}  // namespace veltora
