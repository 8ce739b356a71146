// A generated table of every column type this package writes, and the check of a row read back.
#pragma once

#include "check.hpp"
#include "tables/reading.hpp"
#include "tables/stream.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>

namespace generated {

// Row r of the generated table: every column type, a null in each column every so often, new
// dictionary texts in later batches, NaNs with payloads and signed zeros among the reals.
inline const tables::TableLayout layout{
    {{"id", tables::ColumnType::Int64},
     {"real", tables::ColumnType::Float64},
     {"flag", tables::ColumnType::Bool},
     {"text", tables::ColumnType::Utf8},
     {"level", tables::ColumnType::Dictionary},
     {"blob", tables::ColumnType::Binary},
     {"nothing", tables::ColumnType::Null}},
    {{"database", "{\"levels\": [1, 2]}"}, {"b", ""}, {"a", "second"}},
};

inline constexpr double reals[] = {0.0, -0.0, 1.5, -1e308, std::numeric_limits<double>::infinity()};

inline bool null_at(std::int64_t row, std::size_t column) { return (row + static_cast<std::int64_t>(column)) % 5 == 0; }
inline std::int64_t id_at(std::int64_t row) { return row % 2 == 0 ? std::numeric_limits<std::int64_t>::min() + row : row * 1'000'003; }
inline double real_at(std::int64_t row) {
  if (row % 3 == 1) return std::bit_cast<double>(0x7ff8000000000000ULL + static_cast<std::uint64_t>(row));  // NaN payloads
  return reals[row % 5];
}
inline std::string text_at(std::int64_t row) { return row % 4 == 0 ? "" : "é-" + std::to_string(row); }
inline std::string level_at(std::int64_t row) { return "level " + std::to_string(row % (row < 20 ? 2 : 4)); }
inline std::string blob_at(std::int64_t row) { return std::string("\0\xff", 2) + std::to_string(row); }

class Generated final : public tables::BatchSource {
 public:
  Generated(std::int64_t rows, std::int64_t fail_at = -1) : rows_(rows), fail_at_(fail_at) {}

  bool fill(tables::BatchBuilder& batch, std::int64_t max_rows) override {
    if (next_ == rows_) return false;
    if (next_ == fail_at_) throw std::runtime_error("the source broke");
    for (std::int64_t n = 0; n < max_rows && next_ < rows_; ++n, ++next_) add_row(batch, next_);
    return true;
  }

 private:
  static void add_row(tables::BatchBuilder& batch, std::int64_t r) {
    for (std::size_t c = 0; c < batch.columns(); ++c) {
      if (null_at(r, c) || c == 6) {
        batch.column<tables::ColumnBuilder>(c).append_null();
        continue;
      }
      switch (c) {
        case 0: batch.column<tables::Int64Builder>(c).append(id_at(r)); break;
        case 1: batch.column<tables::Float64Builder>(c).append(real_at(r)); break;
        case 2: batch.column<tables::BoolBuilder>(c).append(r % 3 == 0); break;
        case 3: batch.column<tables::BytesBuilder>(c).append(text_at(r)); break;
        case 4: batch.column<tables::DictionaryBuilder>(c).append(level_at(r)); break;
        case 5: batch.column<tables::BytesBuilder>(c).append(blob_at(r)); break;
      }
    }
  }

  std::int64_t rows_;
  std::int64_t fail_at_;
  std::int64_t next_ = 0;
};

// Checks row r of a reader's batch against the generator, by value and by bits.
inline void check_row(const tables::TableReader& reader, std::int64_t batch_row, std::int64_t r) {
  const std::string at = "at row " + std::to_string(r);
  for (std::size_t c = 0; c < 7; ++c) CHECK_AT(reader.column(c).is_null(batch_row) == (null_at(r, c) || c == 6), at);
  if (!null_at(r, 0)) CHECK_AT(reader.column(0).integer(batch_row).as_signed() == id_at(r), at);
  if (!null_at(r, 1)) CHECK_AT(std::bit_cast<std::uint64_t>(reader.column(1).real(batch_row)) == std::bit_cast<std::uint64_t>(real_at(r)), at);
  if (!null_at(r, 2)) CHECK_AT(reader.column(2).boolean(batch_row) == (r % 3 == 0), at);
  if (!null_at(r, 3)) CHECK_AT(reader.column(3).bytes(batch_row) == text_at(r), at);
  if (!null_at(r, 4)) CHECK_AT(reader.column(4).bytes(batch_row) == level_at(r), at);
  if (!null_at(r, 5)) CHECK_AT(reader.column(5).bytes(batch_row) == blob_at(r), at);
}

// Checks the names, kinds and (when `with_metadata`) metadata of a generated table read back, then
// every row of every batch; returns the rows read.
inline std::int64_t check_table(tables::TableReader& reader, bool with_metadata) {
  if (with_metadata) CHECK(reader.metadata() == layout.metadata);
  CHECK(reader.columns() == layout.columns.size());
  const tables::ValueKind kinds[] = {tables::ValueKind::Integer, tables::ValueKind::Real, tables::ValueKind::Boolean,
                                     tables::ValueKind::Text,    tables::ValueKind::Text, tables::ValueKind::Bytes,
                                     tables::ValueKind::Null};
  for (std::size_t c = 0; c < std::min(reader.columns(), layout.columns.size()); ++c) {
    CHECK_AT(reader.column(c).name() == layout.columns[c].name, "column " + std::to_string(c));
    CHECK_AT(reader.column(c).kind() == kinds[c], "column " + std::to_string(c));
  }
  if (reader.columns() != layout.columns.size()) return 0;
  std::int64_t r = 0;
  while (reader.next()) {
    for (std::int64_t i = 0; i < reader.rows(); ++i, ++r) check_row(reader, i, r);
  }
  return r;
}

}  // namespace generated
