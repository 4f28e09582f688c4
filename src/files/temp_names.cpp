#include "files/temp_names.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

#include "base/path.h"
#include "base/text.h"

namespace veltora {
namespace {

constexpr std::string_view kPrefix = ".veltora-";
constexpr std::string_view kSuffix = ".part";
constexpr std::size_t kHexLength = 8;
constexpr std::size_t kRandomLength = 8;
constexpr std::string_view kRandomAlphabet = "0123456789abcdefghijklmnopqrstuvwxyz";

// FNV-1a, 64 bits, folded to 32: stable across builds and platforms, which a
// std::hash is not.
std::uint32_t Hash32(std::string_view text) {
  std::uint64_t h = 14695981039346656037ull;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::string Hex8(std::uint32_t value) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(kHexLength, '0');
  for (std::size_t i = kHexLength; i-- > 0; value >>= 4) out[i] = kDigits[value & 0xF];
  return out;
}

bool AllOf(std::string_view text, std::string_view alphabet) {
  return text.find_first_not_of(alphabet) == std::string_view::npos;
}

}  // namespace

CopyMarker::CopyMarker() : text_(kHexLength, '0') {}

CopyMarker CopyMarker::For(std::string_view machine, std::string_view appFolder) {
  std::string key = UpperAscii(machine);
  key.push_back('\0');
  key += WithoutTrailingSeparators(appFolder);
  return CopyMarker(Hex8(Hash32(key)));
}

std::string TemporaryCopyName(const CopyMarker& marker, std::string_view finalName) {
  std::string name(kPrefix);
  name += marker.text();
  name += '-';
  name += Hex8(Hash32(finalName));
  name += '-';
  name += RandomToken(kRandomLength);
  name += kSuffix;
  return name;
}

bool IsTemporaryCopyName(std::string_view name) {
  if (name.size() != kTemporaryCopyNameLength || !StartsWith(name, kPrefix) ||
      !EndsWith(name, kSuffix))
    return false;
  const std::string_view marker = name.substr(kPrefix.size(), kHexLength);
  const std::string_view hash = name.substr(kPrefix.size() + kHexLength + 1, kHexLength);
  const std::string_view random = name.substr(kPrefix.size() + 2 * (kHexLength + 1), kRandomLength);
  return name[kPrefix.size() + kHexLength] == '-' &&
         name[kPrefix.size() + 2 * kHexLength + 1] == '-' && AllOf(marker, "0123456789abcdef") &&
         AllOf(hash, "0123456789abcdef") && AllOf(random, kRandomAlphabet);
}

bool IsTemporaryCopyName(std::string_view name, const CopyMarker& marker) {
  return IsTemporaryCopyName(name) && name.substr(kPrefix.size(), kHexLength) == marker.text();
}

std::string RandomToken(std::size_t length) {
  // One generator per thread, seeded from the system's entropy and mixed with
  // the thread and the time, in case random_device is a fixed sequence.
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{
        device(), device(),
        static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())),
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937_64(seed);
  }();
  std::uniform_int_distribution<std::size_t> pick(0, kRandomAlphabet.size() - 1);
  std::string token(length, '0');
  for (char& c : token) c = kRandomAlphabet[pick(generator)];
  return token;
}

}  // namespace veltora
