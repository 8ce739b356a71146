#include "check/describe.hpp"

#include <charconv>

namespace check {

namespace {

std::string shown_real(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  std::string result(text, end);
  // Whole reals keep a point, so 3.0 does not read as the integer 3.
  if (result.find_first_of(".eni") == std::string::npos) result += ".0";
  return result;
}

}  // namespace

std::string quoted(std::string_view text) {
  std::string result;
  result.reserve(text.size() + 2);
  result.append(1, '"').append(text).append(1, '"');
  return result;
}

std::string row_number(std::size_t label) { return std::to_string(label + 1); }

std::string shown(const mind::Cell& cell) {
  switch (cell.kind()) {
    case mind::Kind::Missing:
      return "NULL";
    case mind::Kind::Integer:
      return std::to_string(cell.as_integer());
    case mind::Kind::Real:
      return shown_real(cell.as_real());
    case mind::Kind::Text:
      return quoted(cell.bytes());
    case mind::Kind::Blob:
      break;
  }
  return "a blob of " + std::to_string(cell.bytes().size()) + " bytes";
}

}  // namespace check
