#include "tables/integer_rows.hpp"

#include <cstring>

namespace tables {

namespace {

bool is_list_type(ArrowType type) { return type == NANOARROW_TYPE_LIST || type == NANOARROW_TYPE_LARGE_LIST; }

void require_integers(const ColumnReader& column) {
  if (column.kind() != ValueKind::Integer) {
    throw Invalid("column " + column.name() + " does not hold integers: " + ArrowTypeString(column.type()));
  }
}

void require_integer_items(const ColumnReader& column) {
  ArrowSchemaView items;
  ArrowError error{};
  check_input(ArrowSchemaViewInit(&items, column.field().children[0], &error), "column " + column.name(), error);
  if (kind_of(items.type) != ValueKind::Integer) {
    throw Invalid("column " + column.name() + " holds lists of " + ArrowTypeString(items.type) + ", not of integers");
  }
}

}  // namespace

IntegerRows::IntegerRows(const TableReader& reader) : reader_(reader) {
  if (reader.columns() == 1 && is_list_type(reader.column(0).type())) {
    require_integer_items(reader.column(0));
    is_list_ = true;
    return;
  }
  for (std::size_t i = 0; i < reader.columns(); ++i) require_integers(reader.column(i));
}

bool IntegerRows::read(std::int64_t row, std::vector<IntegerCell>& cells) const {
  cells.clear();
  if (reader_.row_is_null(row)) return false;
  if (!is_list_) {
    for (std::size_t i = 0; i < reader_.columns(); ++i) cells.push_back(reader_.column(i).integer(row));
    return true;
  }
  const ColumnReader& column = reader_.column(0);
  if (column.is_null(row)) return false;
  const ArrowArrayView& lists = column.view();
  const std::int64_t at = lists.offset + column.index(row);
  const ArrowArrayView& items = *lists.children[0];
  const std::int64_t end = ArrowArrayViewListChildOffset(&lists, at + 1);
  for (std::int64_t i = ArrowArrayViewListChildOffset(&lists, at); i < end; ++i) {
    cells.push_back(integer_cell(items, i));
  }
  return true;
}

namespace {

template <class Item>
void read_items(const IntegerMatrix& m, std::int64_t row, std::vector<IntegerCell>& cells) {
  const std::byte* item = m.data + row * m.row_stride;
  for (std::int64_t j = 0; j < m.columns; ++j, item += m.column_stride) {
    Item value;
    std::memcpy(&value, item, sizeof value);
    // Sign-extended for signed items, so that the bits read back as the same int64.
    cells.push_back({static_cast<std::uint64_t>(value), std::is_unsigned_v<Item>, false});
  }
}

}  // namespace

void IntegerMatrix::read(std::int64_t row, std::vector<IntegerCell>& cells) const {
  cells.clear();
  cells.reserve(static_cast<std::size_t>(columns));
  switch (item_size * (is_unsigned ? -1 : 1)) {
    case 1: return read_items<std::int8_t>(*this, row, cells);
    case 2: return read_items<std::int16_t>(*this, row, cells);
    case 4: return read_items<std::int32_t>(*this, row, cells);
    case 8: return read_items<std::int64_t>(*this, row, cells);
    case -1: return read_items<std::uint8_t>(*this, row, cells);
    case -2: return read_items<std::uint16_t>(*this, row, cells);
    case -4: return read_items<std::uint32_t>(*this, row, cells);
    case -8: return read_items<std::uint64_t>(*this, row, cells);
    default: throw std::invalid_argument("an integer item is 1, 2, 4 or 8 bytes");
  }
}

}  // namespace tables
