// The report tree that a scoring run produces, free of any host type.
#pragma once

#include "mind/cell.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace mind {

struct Entry;
class Value;

using List = std::vector<Value>;
// Keys are the report's fixed texts; the order of entries is the order of the output.
using Map = std::vector<Entry>;
struct Text {
  std::string value;
};
struct Bytes {
  std::string value;
};

class Value {
 public:
  using Data = std::variant<std::nullptr_t, std::int64_t, double, Text, Bytes, List, Map>;

  Value() noexcept : data_(nullptr) {}
  Value(std::int64_t v) noexcept : data_(v) {}
  Value(double v) noexcept : data_(v) {}
  Value(std::string_view text) : data_(Text{std::string(text)}) {}
  Value(List list) noexcept : data_(std::move(list)) {}
  Value(Map map) noexcept : data_(std::move(map)) {}

  // A cell copied into the report keeps its kind; a missing cell becomes null.
  static Value from_cell(const Cell& cell);

  const Data& data() const noexcept { return data_; }

 private:
  explicit Value(Data data) noexcept : data_(std::move(data)) {}
  Data data_;
};

struct Entry {
  std::string_view key;
  Value value;
};

// A map of the entries given, moved in: a braced list would copy every value, nested lists included.
template <class... Entries>
Map map_of(Entries&&... entries) {
  Map map;
  map.reserve(sizeof...(entries));
  (map.push_back(std::forward<Entries>(entries)), ...);
  return map;
}

}  // namespace mind
