// One cell of a table read from the database, and the equality rule that lookups use.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace mind {

enum class Kind : std::uint8_t { Missing, Integer, Real, Text, Blob };

// A cell is 16 bytes and never owns memory: texts and blobs point into their table's arena,
// so a cell must not outlive the table it came from.
class Cell {
 public:
  constexpr Cell() noexcept : integer_(0), size_(0), kind_(Kind::Missing) {}
  static Cell integer(std::int64_t v) noexcept {
    Cell c;
    c.kind_ = Kind::Integer;
    c.integer_ = v;
    return c;
  }
  static Cell real(double v) noexcept {
    Cell c;
    c.kind_ = Kind::Real;
    c.real_ = v;
    return c;
  }
  static Cell text(std::string_view s) noexcept { return bytes_cell(Kind::Text, s); }
  static Cell blob(std::string_view s) noexcept { return bytes_cell(Kind::Blob, s); }

  Kind kind() const noexcept { return kind_; }
  bool is_missing() const noexcept { return kind_ == Kind::Missing; }
  bool is_number() const noexcept { return kind_ == Kind::Integer || kind_ == Kind::Real; }
  std::int64_t as_integer() const noexcept { return integer_; }
  double as_real() const noexcept { return real_; }
  double as_double() const noexcept { return kind_ == Kind::Integer ? static_cast<double>(integer_) : real_; }
  std::string_view bytes() const noexcept { return {data_, size_}; }
  bool is_text(std::string_view s) const noexcept { return kind_ == Kind::Text && bytes() == s; }

 private:
  static Cell bytes_cell(Kind kind, std::string_view s) noexcept {
    Cell c;
    c.kind_ = kind;
    c.data_ = s.data();
    c.size_ = static_cast<std::uint32_t>(s.size());
    return c;
  }

  union {
    std::int64_t integer_;
    double real_;
    const char* data_;
  };
  std::uint32_t size_;
  Kind kind_;
};

// The integer a real holds exactly, if it holds one; numbers compare by exact value, as the host's do.
bool exact_integer(double v, std::int64_t& out) noexcept;

// Texts are equal when their characters are; numbers when their values are (3 equals 3.0);
// blobs when their bytes are; a text never equals a number and a missing cell equals nothing.
bool cells_equal(const Cell& a, const Cell& b) noexcept;

// Whether a cell equals the whole number n.
bool equals_number(const Cell& c, std::int64_t n) noexcept;

}  // namespace mind
