#include "base/sha256.h"

#include <cstring>

namespace veltora {

namespace {

constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Spelled byte by byte so that it needs no alignment and no knowledge of the
// machine's byte order; the compilers turn it into one load and a byte swap.
inline std::uint32_t BigEndianWord(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// One round. The eight working variables are not shifted along: the caller
// passes them rotated by one place per round, so a round writes only `d` and
// `h` and the compiler keeps all eight in registers. Each sum of three
// rotations is written nested (rotations add up: ror(ror(x ^ ror(x, 14), 5) ^ x, 6)
// is ror(x, 6) ^ ror(x, 11) ^ ror(x, 25)), which needs fewer register copies.
inline void Round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t constantPlusWord) {
  const std::uint32_t sigma1 = Rotr(Rotr(Rotr(e, 14) ^ e, 5) ^ e, 6);
  const std::uint32_t t1 = h + sigma1 + (g ^ (e & (f ^ g))) + constantPlusWord;
  d += t1;
  const std::uint32_t sigma0 = Rotr(Rotr(Rotr(a, 9) ^ a, 11) ^ a, 2);
  h = t1 + sigma0 + ((a & b) | (c & (a | b)));
}

}  // namespace

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  pendingSize_ = 0;
  length_ = 0;
}

// The state stays in locals across the blocks of one call. A restore digests
// every byte it extracts beside the archiver's own work, and this loop is most
// of the restore's own CPU time: it has to keep pace with sha256sum.
void Sha256::Blocks(const unsigned char* data, std::size_t count) {
  std::uint32_t s0 = state_[0], s1 = state_[1], s2 = state_[2], s3 = state_[3];
  std::uint32_t s4 = state_[4], s5 = state_[5], s6 = state_[6], s7 = state_[7];
  for (; count != 0; --count, data += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = BigEndianWord(data + 4 * i);
    // Word i of the schedule replaces word i - 16 in place, made just before
    // its round: spread among the rounds, whose chain of dependencies leaves
    // the processor idle half the time, it costs next to nothing (made in a
    // pass of its own beforehand, it made the whole a half slower).
    const auto next = [&w](int j) {
      const std::uint32_t w15 = w[(j + 1) & 15];
      const std::uint32_t w2 = w[(j + 14) & 15];
      w[j] += (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3)) + w[(j + 9) & 15] +
              (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10));
      return w[j];
    };
    std::uint32_t a = s0, b = s1, c = s2, d = s3, e = s4, f = s5, g = s6, h = s7;
    Round(a, b, c, d, e, f, g, h, kRound[0] + w[0]);
    Round(h, a, b, c, d, e, f, g, kRound[1] + w[1]);
    Round(g, h, a, b, c, d, e, f, kRound[2] + w[2]);
    Round(f, g, h, a, b, c, d, e, kRound[3] + w[3]);
    Round(e, f, g, h, a, b, c, d, kRound[4] + w[4]);
    Round(d, e, f, g, h, a, b, c, kRound[5] + w[5]);
    Round(c, d, e, f, g, h, a, b, kRound[6] + w[6]);
    Round(b, c, d, e, f, g, h, a, kRound[7] + w[7]);
    Round(a, b, c, d, e, f, g, h, kRound[8] + w[8]);
    Round(h, a, b, c, d, e, f, g, kRound[9] + w[9]);
    Round(g, h, a, b, c, d, e, f, kRound[10] + w[10]);
    Round(f, g, h, a, b, c, d, e, kRound[11] + w[11]);
    Round(e, f, g, h, a, b, c, d, kRound[12] + w[12]);
    Round(d, e, f, g, h, a, b, c, kRound[13] + w[13]);
    Round(c, d, e, f, g, h, a, b, kRound[14] + w[14]);
    Round(b, c, d, e, f, g, h, a, kRound[15] + w[15]);
    for (int i = 16; i < 64; i += 16) {
      Round(a, b, c, d, e, f, g, h, kRound[i + 0] + next(0));
      Round(h, a, b, c, d, e, f, g, kRound[i + 1] + next(1));
      Round(g, h, a, b, c, d, e, f, kRound[i + 2] + next(2));
      Round(f, g, h, a, b, c, d, e, kRound[i + 3] + next(3));
      Round(e, f, g, h, a, b, c, d, kRound[i + 4] + next(4));
      Round(d, e, f, g, h, a, b, c, kRound[i + 5] + next(5));
      Round(c, d, e, f, g, h, a, b, kRound[i + 6] + next(6));
      Round(b, c, d, e, f, g, h, a, kRound[i + 7] + next(7));
      Round(a, b, c, d, e, f, g, h, kRound[i + 8] + next(8));
      Round(h, a, b, c, d, e, f, g, kRound[i + 9] + next(9));
      Round(g, h, a, b, c, d, e, f, kRound[i + 10] + next(10));
      Round(f, g, h, a, b, c, d, e, kRound[i + 11] + next(11));
      Round(e, f, g, h, a, b, c, d, kRound[i + 12] + next(12));
      Round(d, e, f, g, h, a, b, c, kRound[i + 13] + next(13));
      Round(c, d, e, f, g, h, a, b, kRound[i + 14] + next(14));
      Round(b, c, d, e, f, g, h, a, kRound[i + 15] + next(15));
    }
    s0 += a;
    s1 += b;
    s2 += c;
    s3 += d;
    s4 += e;
    s5 += f;
    s6 += g;
    s7 += h;
  }
  state_ = {s0, s1, s2, s3, s4, s5, s6, s7};
}

void Sha256::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  length_ += size;
  if (pendingSize_ != 0) {
    const std::size_t take = std::min(size, pending_.size() - pendingSize_);
    std::memcpy(pending_.data() + pendingSize_, bytes, take);
    pendingSize_ += take;
    bytes += take;
    size -= take;
    if (pendingSize_ < pending_.size()) return;
    Blocks(pending_.data(), 1);
    pendingSize_ = 0;
  }
  const std::size_t whole = size / 64;
  Blocks(bytes, whole);
  bytes += whole * 64;
  size -= whole * 64;
  if (size != 0) std::memcpy(pending_.data(), bytes, size);
  pendingSize_ = size;
}

std::string Sha256::HexDigest() {
  const std::uint64_t bits = length_ * 8;
  const unsigned char one = 0x80;
  Update(&one, 1);
  const unsigned char zero = 0;
  while (pendingSize_ != 56) Update(&zero, 1);
  unsigned char tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Update(tail, sizeof tail);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint32_t word : state_)
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kHex[(word >> shift) & 0xf]);
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 sha;
  sha.Update(bytes);
  return sha.HexDigest();
}

}  // namespace veltora
