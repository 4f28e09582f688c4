#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace veltora {
namespace {

// Bytes that differ from block to block, so that a block digested twice or
// skipped changes the result (a run of one letter would not show it).
std::string Varied(std::size_t size) {
  std::string message;
  for (std::size_t i = 0; i < size; ++i) message.push_back(static_cast<char>(i * 7));
  return message;
}

TEST(Sha256Test, StandardVectors) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // Fifteen whole blocks in one call, then a partial one.
      {Varied(1000), "89f4ff56a25dd1db06a4ce6033603775d705fb96f30f8693733fef602a1ca532"},
  };
  for (const Case& c : cases) EXPECT_EQ(Sha256Hex(c.input), c.digest) << c.input.size();
}

// A file is fed in whatever pieces its reads return: every split of a message
// that straddles the padding boundaries (55, 56, 64 bytes) gives one digest.
TEST(Sha256Test, PiecesGiveTheWholeDigest) {
  for (const std::size_t size : {55u, 56u, 63u, 64u, 65u, 130u}) {
    const std::string message = Varied(size);
    const std::string whole = Sha256Hex(message);
    for (std::size_t cut = 0; cut <= size; ++cut) {
      Sha256 sha;
      sha.Update(std::string_view(message).substr(0, cut));
      sha.Update(std::string_view(message).substr(cut));
      EXPECT_EQ(sha.BytesSeen(), size);
      EXPECT_EQ(sha.HexDigest(), whole) << size << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace veltora
