// SHA-256 of a byte stream, fed in pieces of any size, so that a file is
// digested in the same pass that copies or reads it. Kept here rather than
// taken from a crypto library, which the Windows cross build does not have.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltora {

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // The digest as 64 lower-case hex digits, the form sha256sum prints. The
  // object is spent afterwards: Reset() before feeding it again.
  std::string HexDigest();
  void Reset();
  std::uint64_t BytesSeen() const { return length_; }

 private:
  // Compresses `count` whole 64-byte blocks into the state.
  void Blocks(const unsigned char* data, std::size_t count);

  std::array<std::uint32_t, 8> state_{};
  std::array<unsigned char, 64> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t length_ = 0;
};

// The digest of a whole string.
std::string Sha256Hex(std::string_view bytes);

}  // namespace veltora
