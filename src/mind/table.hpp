// A table read whole from the database: named columns in their declared order, rows labelled by position.
#pragma once

#include "mind/cell.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mind {

// How a column holds its numbers once the whole column is known.
enum class ColumnType : std::uint8_t {
  Empty,    // no present cell
  Integer,  // only integers
  Real,     // only numbers, with a real or a missing cell among them: every number reads as a real
  Mixed,    // a text or a blob among them: every cell as stored
};

struct Column {
  std::string name;
  std::vector<Cell> cells;
  ColumnType type = ColumnType::Empty;
};

// Owns the bytes of every text and blob cell of one table, in a few large blocks.
class Arena {
 public:
  std::string_view keep(const char* data, std::size_t size);

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t left_ = 0;
  char* next_ = nullptr;
};

class Table {
 public:
  explicit Table(std::vector<std::string> column_names);
  Table(Table&&) noexcept = default;
  Table& operator=(Table&&) noexcept = default;

  // Loading: cells are appended row by row, then the column types are settled once.
  Arena& arena() noexcept { return arena_; }
  void append(std::size_t column, Cell cell) { columns_[column].cells.push_back(cell); }
  void finish(std::size_t rows);

  std::size_t row_count() const noexcept { return rows_; }
  const std::vector<Column>& columns() const noexcept { return columns_; }

  // The first column of that name, if any.
  std::optional<std::size_t> find(std::string_view name) const noexcept;
  // A column by name; KeyError naming it when there is none.
  const Column& column(std::string_view name) const;
  std::size_t column_index(std::string_view name) const;
  // Labels of the rows whose cell in the column equals the value, in row order.
  std::vector<std::size_t> rows_where(std::string_view column, const Cell& value) const;
  // The cell of the row with that label; KeyError naming the label, then the column.
  const Cell& cell(std::size_t label, std::string_view column) const;
  // A cell as a walk over the rows gives it: when every column holds numbers and one holds reals,
  // the row gives all its numbers as reals.
  Cell row_cell(std::size_t row, std::size_t column) const noexcept;

 private:
  std::vector<Column> columns_;
  std::size_t rows_ = 0;
  bool rows_as_reals_ = false;
  Arena arena_;
};

}  // namespace mind
