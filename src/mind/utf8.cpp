#include "mind/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace mind {

namespace {

bool continuation(unsigned char c) noexcept { return (c & 0xC0) == 0x80; }

// Length of the valid sequence starting at s[0] (not ASCII), or 0 when it is invalid.
std::size_t sequence_length(const unsigned char* s, std::size_t left) noexcept {
  const unsigned char c = s[0];
  if (c >= 0xC2 && c <= 0xDF) return (left >= 2 && continuation(s[1])) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (left < 3 || !continuation(s[1]) || !continuation(s[2])) return 0;
    if (c == 0xE0 && s[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && s[1] > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (left < 4 || !continuation(s[1]) || !continuation(s[2]) || !continuation(s[3])) return 0;
    if (c == 0xF0 && s[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && s[1] > 0x8F) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool valid_utf8(const unsigned char* s, std::size_t n) noexcept {
  std::size_t i = 0;
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, s + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const std::size_t len = sequence_length(s + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace mind
