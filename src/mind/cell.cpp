#include "mind/cell.hpp"

#include <cmath>

namespace mind {

bool exact_integer(double v, std::int64_t& out) noexcept {
  // 2^63 is exactly representable; every double below it and at or above -2^63 fits an int64.
  constexpr double limit = 9223372036854775808.0;
  if (!(v >= -limit && v < limit) || std::trunc(v) != v) return false;
  out = static_cast<std::int64_t>(v);
  return true;
}

bool equals_number(const Cell& c, std::int64_t n) noexcept {
  if (c.kind() == Kind::Integer) return c.as_integer() == n;
  std::int64_t value = 0;
  return c.kind() == Kind::Real && exact_integer(c.as_real(), value) && value == n;
}

bool cells_equal(const Cell& a, const Cell& b) noexcept {
  if (a.is_number() && b.is_number()) {
    if (a.kind() == Kind::Real && b.kind() == Kind::Real) return a.as_real() == b.as_real();
    if (a.kind() == Kind::Integer) return equals_number(b, a.as_integer());
    return equals_number(a, b.as_integer());
  }
  return a.kind() == b.kind() && (a.kind() == Kind::Text || a.kind() == Kind::Blob) && a.bytes() == b.bytes();
}

}  // namespace mind
