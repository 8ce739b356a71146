// The answer scoring methods: each method code turns an answer 1 to 4 into points.
#pragma once

#include "mind/answers.hpp"
#include "mind/cell.hpp"

#include <cstddef>

namespace mind {

// The method a cell names: 0 to 3 for the texts "A1" to "A4", -1 for anything else.
inline int method_of(const Cell& cell) noexcept {
  if (cell.kind() != Kind::Text) return -1;
  const auto s = cell.bytes();
  if (s.size() != 2 || s[0] != 'A' || s[1] < '1' || s[1] > '4') return -1;
  return s[1] - '1';
}

// Points of a method (0 to 3) for an answer entry (1 to 4). "A2" reverses "A1"; "A3" favours the
// middle answers, "A4" the outer.
inline int method_points(int method, int entry) noexcept {
  constexpr int points[4][4] = {
      {1, 2, 3, 4},
      {4, 3, 2, 1},
      {1, 4, 4, 1},
      {4, 1, 1, 4},
  };
  return points[method][entry - 1];
}

// scoring_methods.get(code, {}).get(answer, 0) for the code's method (-1: none): never fails on the
// code or the answer's value.
int lenient_points(int method, const Answer& answer, std::size_t position);

// scoring_methods[code][answer]: KeyError naming the code, then the host's error for the answer.
inline int strict_points(const Cell& code, const Answer& answer, std::size_t position) {
  const int method = method_of(code);
  if (method < 0) fail(MissingKey{Value::from_cell(code)});
  return method_points(method, Answers::strict_entry(answer, position));
}

}  // namespace mind
