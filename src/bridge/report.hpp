// The report tree of a scoring run as the host's own objects.
#pragma once

#include "host/ref.hpp"
#include "mind/value.hpp"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace bridge {

// Maps become dicts in entry order, lists lists, integers int, reals float, texts str, bytes bytes, null None.
// A report repeats a few dozen keys hundreds of times, so each key becomes a host string once and
// is reused, its hash computed once with it. Keep one converter per module and use it under the lock.
class ReportConverter {
 public:
  host::Ref to_python(const mind::Value& value);
  // Adds the entries of a map to an existing dict, in order.
  void add_entries(PyObject* dict, const mind::Map& map);

 private:
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };

  host::Ref convert(std::nullptr_t);
  host::Ref convert(std::int64_t v);
  host::Ref convert(double v);
  host::Ref convert(const mind::Text& t);
  host::Ref convert(const mind::Bytes& b);
  host::Ref convert(const mind::List& items);
  host::Ref convert(const mind::Map& map);
  host::Ref key(std::string_view text);

  // Most keys stand at the same address report after report (the report's own texts, or names in
  // tables kept for a cohort): the slot for that address, checked against the text, spares hashing it.
  struct Recent {
    const char* data = nullptr;
    const std::string* text = nullptr;
    PyObject* string = nullptr;
  };
  // Past this many, new keys are made afresh each time: a host that scores against many databases
  // keeps no more than this.
  static constexpr std::size_t max_kept = std::size_t{1} << 16;

  std::unordered_map<std::string, host::Ref, KeyHash, std::equal_to<>> keys_;
  std::array<Recent, 256> recent_{};
};

}  // namespace bridge
