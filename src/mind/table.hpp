// A table read whole from the database: named columns in their declared order, rows labelled by position.
#pragma once

#include "mind/block.hpp"
#include "mind/cell.hpp"

#include <cstddef>
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
  ColumnType type = ColumnType::Empty;
};

// Owns the storage of one table: its blocks of rows and the bytes of its text and blob cells.
// A table starts in a few standard blocks; once it outgrows them, each new block is a huge one
// as large as all before it, so a table of any size takes few blocks and few page faults.
class Arena {
 public:
  // Uninitialised storage for `count` cells.
  Cell* cells(std::size_t count);
  std::string_view keep(const char* data, std::size_t size);

 private:
  char* take(std::size_t size, std::size_t alignment);
  void add_block(std::size_t at_least);

  std::vector<Block> blocks_;
  std::size_t total_ = 0;
  std::size_t left_ = 0;
  char* next_ = nullptr;
};

class Table {
 public:
  explicit Table(std::vector<std::string> column_names);
  Table(Table&&) noexcept = default;
  Table& operator=(Table&&) noexcept = default;

  // Loading: each row's cells are set in its slots, row after row; then the column types are settled once.
  class RowSlots {
   public:
    RowSlots(Cell* cells, std::uint8_t* seen) noexcept : cells_(cells), seen_(seen) {}
    void set(std::size_t column, Cell cell) noexcept {
      cells_[column] = cell;
      seen_[column] |= static_cast<std::uint8_t>(1u << static_cast<unsigned>(cell.kind()));
    }

   private:
    Cell* cells_;
    std::uint8_t* seen_;  // per column, a bit for each kind of cell stored in it
  };
  Arena& arena() noexcept { return arena_; }
  RowSlots add_row();
  void finish();

  std::size_t row_count() const noexcept { return rows_; }
  const std::vector<Column>& columns() const noexcept { return columns_; }
  std::vector<std::string> column_names() const;

  // The first column of that name, if any.
  std::optional<std::size_t> find(std::string_view name) const noexcept;
  // A column's position by name; KeyError naming it when there is none.
  std::size_t column_index(std::string_view name) const;
  // A cell as its column holds it: in a column of reals, a stored integer reads as a real.
  Cell at(std::size_t row, std::size_t column) const noexcept { return promoted(stored(row, column), column_reals_[column] != 0); }
  // A cell as a walk over the rows gives it: when every column holds numbers and one holds reals,
  // the row gives all its numbers as reals.
  Cell row_cell(std::size_t row, std::size_t column) const noexcept { return row_view(row)[column]; }

  // The cells of one row as a walk over the rows gives them, for reading many cells of a row.
  class RowView {
   public:
    RowView(const Cell* cells, const std::uint8_t* reals) noexcept : cells_(cells), reals_(reals) {}
    Cell operator[](std::size_t column) const noexcept {
      return reals_ == nullptr ? cells_[column] : promoted(cells_[column], reals_[column] != 0);
    }

   private:
    const Cell* cells_;
    const std::uint8_t* reals_;  // null when no column of this view reads as reals
  };
  RowView row_view(std::size_t row) const noexcept {
    return RowView(&stored(row, 0), row_reals_any_ ? row_reals_.data() : nullptr);
  }
  // Labels of the rows whose cell in the column equals the value, in row order.
  std::vector<std::size_t> rows_where(std::string_view column, const Cell& value) const;

 private:
  // Rows are stored whole, a fixed number of them per block, so a row's cells sit side by side and
  // loading never moves cells already stored.
  const Cell& stored(std::size_t row, std::size_t column) const noexcept {
    return blocks_[row >> block_shift_][(row & block_mask_) * columns_.size() + column];
  }
  static Cell promoted(const Cell& c, bool reals) noexcept {
    return reals && c.kind() == Kind::Integer ? Cell::real(c.as_double()) : c;
  }

  std::vector<Column> columns_;
  // Blocks of rows in the arena, left unwritten until rows fill them.
  std::vector<Cell*> blocks_;
  std::size_t block_shift_ = 0;
  std::size_t block_mask_ = 0;
  std::size_t rows_ = 0;
  std::vector<std::uint8_t> seen_;
  std::vector<std::uint8_t> column_reals_;
  std::vector<std::uint8_t> row_reals_;
  bool row_reals_any_ = false;
  Arena arena_;
};

// Takes a table row by row without keeping it: first its column names, then each row's cells,
// which (texts included) last only until the call returns.
class RowSink {
 public:
  virtual void start(std::vector<std::string> column_names) = 0;
  virtual void take_row(const Cell* cells) = 0;

 protected:
  ~RowSink() = default;
};

}  // namespace mind
