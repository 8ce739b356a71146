// Rows of integers, as a client's answers come in a table: from Arrow input or from a 2-D buffer.
#pragma once

#include "tables/reading.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tables {

// The rows of Arrow input: one integer column per position, or a single column of lists (list or
// large_list of integers) whose lists are the rows.
class IntegerRows {
 public:
  // Invalid, naming the column, when the reader's columns have neither shape.
  explicit IntegerRows(const TableReader& reader);

  // Row `row` of the reader's current batch, into `cells`: false (and no cells) when the row is
  // null as a whole, a null list or a null struct entry.
  bool read(std::int64_t row, std::vector<IntegerCell>& cells) const;

 private:
  const TableReader& reader_;
  bool is_list_ = false;
};

// A 2-D integer buffer as the buffer protocol describes one: rows by columns, strides in bytes
// (either may be negative), items of 1, 2, 4 or 8 bytes in the machine's order.
struct IntegerMatrix {
  const std::byte* data = nullptr;
  std::int64_t rows = 0;
  std::int64_t columns = 0;
  std::int64_t row_stride = 0;
  std::int64_t column_stride = 0;
  int item_size = 0;
  bool is_unsigned = false;

  void read(std::int64_t row, std::vector<IntegerCell>& cells) const;
};

}  // namespace tables
