// Bytes as lowercase hexadecimal digits, two a byte: how a blob is written wherever it must be
// text (a field's name, a table's report shape).
#pragma once

#include <string>
#include <string_view>

namespace support {

inline std::string hex_digits(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 * bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += digits[byte >> 4];
    out += digits[byte & 0xf];
  }
  return out;
}

}  // namespace support
