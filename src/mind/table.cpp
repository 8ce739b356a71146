#include "mind/table.hpp"

#include "mind/failure.hpp"

#include <algorithm>
#include <cstring>

namespace mind {

namespace {

constexpr std::size_t block_size = 64 * 1024;

ColumnType settle_type(const std::vector<Cell>& cells) noexcept {
  bool present = false, real = false, missing = false;
  for (const Cell& c : cells) {
    switch (c.kind()) {
      case Kind::Text:
      case Kind::Blob:
        return ColumnType::Mixed;
      case Kind::Real:
        real = true;
        break;
      case Kind::Missing:
        missing = true;
        continue;
      case Kind::Integer:
        break;
    }
    present = true;
  }
  if (!present) return ColumnType::Empty;
  return (real || missing) ? ColumnType::Real : ColumnType::Integer;
}

Cell as_real(const Cell& c) noexcept { return c.kind() == Kind::Integer ? Cell::real(c.as_double()) : c; }

bool holds_numbers(const Column& c) noexcept { return c.type == ColumnType::Integer || c.type == ColumnType::Real; }

}  // namespace

std::string_view Arena::keep(const char* data, std::size_t size) {
  if (size == 0) return {};
  if (size > left_) {
    const std::size_t n = std::max(size, block_size);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
    next_ = blocks_.back().get();
    left_ = n;
  }
  char* out = next_;
  std::memcpy(out, data, size);
  next_ += size;
  left_ -= size;
  return {out, size};
}

Table::Table(std::vector<std::string> column_names) {
  columns_.reserve(column_names.size());
  for (auto& name : column_names) columns_.push_back(Column{std::move(name), {}, ColumnType::Empty});
}

void Table::finish(std::size_t rows) {
  rows_ = rows;
  for (Column& column : columns_) {
    column.type = settle_type(column.cells);
    if (column.type == ColumnType::Real) {
      for (Cell& c : column.cells) c = as_real(c);
    }
  }
  rows_as_reals_ = !columns_.empty() && std::all_of(columns_.begin(), columns_.end(), holds_numbers) &&
                   std::any_of(columns_.begin(), columns_.end(), [](const Column& c) { return c.type == ColumnType::Real; });
}

std::optional<std::size_t> Table::find(std::string_view name) const noexcept {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return i;
  }
  return std::nullopt;
}

std::size_t Table::column_index(std::string_view name) const {
  const auto index = find(name);
  if (!index) fail(MissingKey{Value(name)});
  return *index;
}

const Column& Table::column(std::string_view name) const { return columns_[column_index(name)]; }

std::vector<std::size_t> Table::rows_where(std::string_view column_name, const Cell& value) const {
  const Column& c = column(column_name);
  std::vector<std::size_t> labels;
  for (std::size_t row = 0; row < rows_; ++row) {
    if (cells_equal(c.cells[row], value)) labels.push_back(row);
  }
  return labels;
}

const Cell& Table::cell(std::size_t label, std::string_view column_name) const {
  if (label >= rows_) fail(MissingKey{Value(static_cast<std::int64_t>(label))});
  return column(column_name).cells[label];
}

Cell Table::row_cell(std::size_t row, std::size_t column) const noexcept {
  const Cell& c = columns_[column].cells[row];
  return rows_as_reals_ ? as_real(c) : c;
}

}  // namespace mind
