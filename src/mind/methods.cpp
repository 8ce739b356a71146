#include "mind/methods.hpp"

namespace mind {

namespace {

// Rows "A1" to "A4", columns answer 1 to 4. "A2" reverses "A1"; "A3" favours the middle answers, "A4" the outer.
constexpr int points_table[4][4] = {
    {1, 2, 3, 4},
    {4, 3, 2, 1},
    {1, 4, 4, 1},
    {4, 1, 1, 4},
};

}  // namespace

int method_of(const Cell& cell) noexcept {
  if (cell.kind() != Kind::Text) return -1;
  const auto s = cell.bytes();
  if (s.size() != 2 || s[0] != 'A' || s[1] < '1' || s[1] > '4') return -1;
  return s[1] - '1';
}

int method_points(int method, int entry) noexcept { return points_table[method][entry - 1]; }

int lenient_points(const Cell& code, const Answer& answer, std::size_t position) {
  const int method = method_of(code);
  if (method < 0) return 0;
  const int entry = Answers::lenient_entry(answer, position);
  return entry == Answer::NotFound ? 0 : method_points(method, entry);
}

int strict_points(const Cell& code, const Answer& answer, std::size_t position) {
  const int method = method_of(code);
  if (method < 0) fail(MissingKey{Value::from_cell(code)});
  return method_points(method, Answers::strict_entry(answer, position));
}

}  // namespace mind
