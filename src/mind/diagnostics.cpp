#include "mind/diagnostics.hpp"

#include <algorithm>
#include <charconv>
#include <variant>

namespace mind {

namespace {

void append_joined(std::string& out, const std::vector<std::int64_t>& items) {
  char digits[24];
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    const auto end = std::to_chars(digits, digits + sizeof digits, items[i]).ptr;
    out.append(digits, end);
  }
}

}  // namespace

bool append_integer_set(std::string& out, const std::vector<Value>& members) {
  std::vector<std::int64_t> numbers;
  numbers.reserve(members.size());
  for (const Value& member : members) {
    const auto* number = std::get_if<std::int64_t>(&member.data());
    if (number == nullptr) return false;
    numbers.push_back(*number);
  }
  if (numbers.empty()) {
    out += "set()";
    return true;
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  out += '{';
  append_joined(out, numbers);
  out += '}';
  return true;
}

void append_integer_list(std::string& out, const std::vector<std::int64_t>& items) {
  out += '[';
  append_joined(out, items);
  out += ']';
}

}  // namespace mind
