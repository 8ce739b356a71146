#include "mind/table.hpp"

#include "mind/failure.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace mind {

namespace {

constexpr std::size_t cells_per_block = block_size / sizeof(Cell);
constexpr std::size_t standard_blocks_per_table = 8;
constexpr std::size_t largest_block = 64 * 1024 * 1024;

bool has(std::uint8_t seen, Kind kind) noexcept { return (seen >> static_cast<unsigned>(kind)) & 1u; }

ColumnType type_of(std::uint8_t seen) noexcept {
  if (has(seen, Kind::Text) || has(seen, Kind::Blob)) return ColumnType::Mixed;
  if (!has(seen, Kind::Real) && !has(seen, Kind::Integer)) return ColumnType::Empty;
  return (has(seen, Kind::Real) || has(seen, Kind::Missing)) ? ColumnType::Real : ColumnType::Integer;
}

bool holds_numbers(const Column& c) noexcept { return c.type == ColumnType::Integer || c.type == ColumnType::Real; }

bool holds_reals(const Column& c) noexcept { return c.type == ColumnType::Real; }

}  // namespace

// Cells are trivially copyable: storage that was never constructed holds them as it is.
Cell* Arena::cells(std::size_t count) { return reinterpret_cast<Cell*>(take(count * sizeof(Cell), alignof(Cell))); }

std::string_view Arena::keep(const char* data, std::size_t size) {
  if (size == 0) return {};
  char* out = take(size, 1);
  std::memcpy(out, data, size);
  return {out, size};
}

char* Arena::take(std::size_t size, std::size_t alignment) {
  std::size_t skip = (alignment - reinterpret_cast<std::uintptr_t>(next_) % alignment) % alignment;
  if (skip + size > left_) {
    add_block(size);
    skip = 0;  // blocks start aligned for any cell
  }
  char* out = next_ + skip;
  next_ = out + size;
  left_ -= skip + size;
  return out;
}

void Arena::add_block(std::size_t at_least) {
  std::size_t size = std::max(at_least, block_size);
  if (blocks_.size() >= standard_blocks_per_table) size = std::max({at_least, huge_block_size, std::min(total_, largest_block)});
  const Block& block = blocks_.emplace_back(size);
  total_ += block.size();
  next_ = block.data();
  left_ = block.size();
}

std::vector<std::string> Table::column_names() const {
  std::vector<std::string> names;
  names.reserve(columns_.size());
  for (const Column& column : columns_) names.push_back(column.name);
  return names;
}

Table::Table(std::vector<std::string> column_names) : seen_(column_names.size()) {
  columns_.reserve(column_names.size());
  for (auto& name : column_names) columns_.push_back(Column{std::move(name), ColumnType::Empty});
  const std::size_t rows_per_block = std::bit_floor(std::max<std::size_t>(1, cells_per_block / std::max<std::size_t>(1, columns_.size())));
  block_shift_ = static_cast<std::size_t>(std::countr_zero(rows_per_block));
  block_mask_ = rows_per_block - 1;
}

Table::RowSlots Table::add_row() {
  const std::size_t width = columns_.size();
  if ((rows_ & block_mask_) == 0) blocks_.push_back(arena_.cells((block_mask_ + 1) * width));
  Cell* cells = blocks_.back() + (rows_ & block_mask_) * width;
  ++rows_;
  return RowSlots(cells, seen_.data());
}

void Table::finish() {
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    columns_[c].type = type_of(seen_[c]);
    column_reals_.push_back(holds_reals(columns_[c]) ? 1 : 0);
  }
  const bool rows_as_reals = !columns_.empty() && std::all_of(columns_.begin(), columns_.end(), holds_numbers) &&
                             std::any_of(columns_.begin(), columns_.end(), holds_reals);
  row_reals_ = rows_as_reals ? std::vector<std::uint8_t>(columns_.size(), 1) : column_reals_;
  row_reals_any_ = std::any_of(row_reals_.begin(), row_reals_.end(), [](std::uint8_t r) { return r != 0; });
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

std::vector<std::size_t> Table::rows_where(std::string_view column_name, const Cell& value) const {
  const std::size_t column = column_index(column_name);
  std::vector<std::size_t> labels;
  for (std::size_t row = 0; row < rows_; ++row) {
    if (cells_equal(at(row, column), value)) labels.push_back(row);
  }
  return labels;
}

}  // namespace mind
