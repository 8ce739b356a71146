// Cells as hash keys, equal exactly when the table's equality rule says so (missing cells aside).
#pragma once

#include "mind/cell.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mind {

struct CellKey {
  // Numbers are keyed by value: a real holding a whole number keys as that integer.
  static CellKey of(const Cell& c) noexcept {
    CellKey k;
    k.kind = c.kind();
    switch (c.kind()) {
      case Kind::Integer:
        k.integer = c.as_integer();
        break;
      case Kind::Real:
        if (exact_integer(c.as_real(), k.integer)) {
          k.kind = Kind::Integer;
        } else {
          k.real = c.as_real();
        }
        break;
      case Kind::Text:
      case Kind::Blob:
        k.bytes = c.bytes();
        break;
      case Kind::Missing:
        break;
    }
    return k;
  }

  bool operator==(const CellKey&) const = default;

  Kind kind = Kind::Missing;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view bytes;
};

struct CellKeyHash {
  std::size_t operator()(const CellKey& k) const noexcept {
    const std::size_t kind = static_cast<std::size_t>(k.kind) * 0x9E3779B97F4A7C15ull;
    switch (k.kind) {
      case Kind::Integer:
        return kind ^ std::hash<std::int64_t>{}(k.integer);
      case Kind::Real:
        return kind ^ std::hash<double>{}(k.real);
      case Kind::Text:
      case Kind::Blob:
        return kind ^ std::hash<std::string_view>{}(k.bytes);
      case Kind::Missing:
        break;
    }
    return kind;
  }
};

}  // namespace mind
