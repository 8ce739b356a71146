// Tables built by this package and read back; integer input of every shape and width; input that
// must be refused.
#include "check.hpp"
#include "generated_table.hpp"
#include "tables/integer_rows.hpp"
#include "tables/stream.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <variant>

namespace {

using tables::IntegerCell;
using namespace generated;

TEST_CASE(built_stream_reads_back_value_for_value) {
  constexpr std::int64_t rows = 50;
  constexpr std::int64_t batch_rows = 7;
  tables::TableReader reader(tables::make_stream(spec, std::make_unique<Generated>(rows), batch_rows));
  CHECK(reader.metadata_value("a") == "second");
  CHECK(reader.find("level") == 4u);
  // Each batch carries the whole dictionary so far, so the codes of earlier batches keep their texts.
  std::int64_t batches = 0;
  std::vector<std::string> dictionary;
  auto next = [&] {
    if (!reader.next()) return false;
    ++batches;
    CHECK(reader.rows() == std::min(batch_rows, rows - (batches - 1) * batch_rows));
    const ArrowArrayView& texts = *reader.column(4).view().dictionary;
    for (std::int64_t i = 0; i < texts.length; ++i) {
      const ArrowStringView text = ArrowArrayViewGetStringUnsafe(&texts, i);
      const std::string got(text.data, static_cast<std::size_t>(text.size_bytes));
      if (i < static_cast<std::int64_t>(dictionary.size())) CHECK(got == dictionary[static_cast<std::size_t>(i)]);
      else dictionary.push_back(got);
    }
    return true;
  };
  while (next()) {}
  CHECK(batches == 8);
  CHECK(dictionary.size() == 4u);
  tables::TableReader again(tables::make_stream(spec, std::make_unique<Generated>(rows), batch_rows));
  CHECK(check_table(again, true) == rows);
}

TEST_CASE(failing_source_fails_the_stream_for_good) {
  nanoarrow::UniqueArrayStream stream = tables::make_stream(spec, std::make_unique<Generated>(50, 14), 7);
  nanoarrow::UniqueArray batch;
  CHECK(stream->get_next(stream.get(), batch.get()) == 0 && batch->length == 7);
  batch.reset();
  CHECK(stream->get_next(stream.get(), batch.get()) == 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    nanoarrow::UniqueArray failed;
    CHECK(stream->get_next(stream.get(), failed.get()) == EIO);
    CHECK(std::string(stream->get_last_error(stream.get())) == "the source broke");
  }
  tables::TableReader reader(tables::make_stream(spec, std::make_unique<Generated>(50, 7), 7));
  CHECK(reader.next());
  CHECK_THROWS(reader.next(), tables::Invalid, "the Arrow stream failed: the source broke");
}

}  // namespace

namespace {

// Integer input: every width, with extremes, nulls, sliced arrays and batches, as columns or lists.
constexpr ArrowType integer_types[] = {NANOARROW_TYPE_INT8,  NANOARROW_TYPE_INT16,  NANOARROW_TYPE_INT32,  NANOARROW_TYPE_INT64,
                                       NANOARROW_TYPE_UINT8, NANOARROW_TYPE_UINT16, NANOARROW_TYPE_UINT32, NANOARROW_TYPE_UINT64};

// The cell of row r in column c (of integer_types[c]); every type meets its extremes, 1 to 4, and 5.
IntegerCell cell_at(std::int64_t r, std::size_t c) {
  const bool is_unsigned = c >= 4;
  const int bits = 8 << (c % 4);
  const std::uint64_t umax = bits == 64 ? ~0ULL : (1ULL << bits) - 1;
  const std::int64_t smin = bits == 64 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << (bits - 1));
  const std::uint64_t choices[] = {1, 2, 3, 4, 5, 0, is_unsigned ? umax : umax >> 1, is_unsigned ? 0 : static_cast<std::uint64_t>(smin)};
  return {choices[(static_cast<std::size_t>(r) * 3 + c) % 8], is_unsigned, (r + static_cast<std::int64_t>(c)) % 7 == 3};
}

void append_cell(ArrowArray* array, const IntegerCell& cell) {
  if (cell.is_null) return tables::check(ArrowArrayAppendNull(array, 1), "a null");
  tables::check(cell.is_unsigned ? ArrowArrayAppendUInt(array, cell.bits) : ArrowArrayAppendInt(array, cell.as_signed()), "a cell");
}

nanoarrow::UniqueSchema integer_table_schema() {
  nanoarrow::UniqueSchema schema;
  ArrowSchemaInit(schema.get());
  tables::check(ArrowSchemaSetTypeStruct(schema.get(), 8), "schema");
  for (std::size_t c = 0; c < 8; ++c) {
    tables::check(ArrowSchemaSetType(schema->children[c], integer_types[c]), "schema");
    tables::check(ArrowSchemaSetName(schema->children[c], ("q" + std::to_string(c + 1)).c_str()), "schema");
  }
  return schema;
}

// Rows [first, first + rows) of the integer table, built with `skip` rows before them that the
// array's offset hides, and struct entry `null_row` (counted from first) null.
nanoarrow::UniqueArray integer_batch(const ArrowSchema& schema, std::int64_t first, std::int64_t rows, std::int64_t skip,
                                     std::int64_t null_row = -1) {
  nanoarrow::UniqueArray array;
  tables::check(ArrowArrayInitFromSchema(array.get(), &schema, nullptr), "array");
  tables::check(ArrowArrayStartAppending(array.get()), "array");
  for (std::int64_t r = first - skip; r < first + rows; ++r) {
    // A null struct entry gives each column an empty entry of its own.
    if (r - first == null_row) {
      tables::check(ArrowArrayAppendNull(array.get(), 1), "row");
      continue;
    }
    for (std::size_t c = 0; c < 8; ++c) append_cell(array->children[c], cell_at(r, c));
    tables::check(ArrowArrayFinishElement(array.get()), "row");
  }
  tables::check(ArrowArrayFinishBuildingDefault(array.get(), nullptr), "array");
  array->offset = skip;
  array->length = rows;
  return array;
}

bool same(const IntegerCell& a, const IntegerCell& b) {
  return a.is_null == b.is_null && (a.is_null || (a.bits == b.bits && a.is_unsigned == b.is_unsigned));
}

TEST_CASE(integer_columns_of_every_width_read_exactly_across_sliced_batches) {
  nanoarrow::UniqueSchema schema = integer_table_schema();
  std::vector<nanoarrow::UniqueArray> batches;
  batches.push_back(integer_batch(*schema.get(), 0, 10, 0));
  batches.push_back(integer_batch(*schema.get(), 10, 0, 0));
  batches.push_back(integer_batch(*schema.get(), 10, 13, 5, 2));
  nanoarrow::UniqueSchema copy;
  tables::check(ArrowSchemaDeepCopy(schema.get(), copy.get()), "copy");
  nanoarrow::UniqueArrayStream stream;
  nanoarrow::VectorArrayStream(copy.get(), std::move(batches)).ToArrayStream(stream.get());
  tables::TableReader reader(std::move(stream));
  const tables::IntegerRows rows(reader);
  std::vector<IntegerCell> cells;
  std::int64_t r = 0;
  while (reader.next()) {
    for (std::int64_t i = 0; i < reader.rows(); ++i, ++r) {
      const bool whole_row_null = r == 12;
      CHECK_AT(rows.read(i, cells) == !whole_row_null, "at row " + std::to_string(r));
      if (whole_row_null) continue;
      bool all_same = cells.size() == 8;
      for (std::size_t c = 0; all_same && c < 8; ++c) all_same = same(cells[c], cell_at(r, c));
      CHECK_AT(all_same, "at row " + std::to_string(r));
    }
  }
  CHECK(r == 23);
}

}  // namespace

namespace {

// A list column of `list_type` whose row r holds r % 5 cells of integer_types[item]; every sixth
// row null, the first `skip` rows hidden by the offset of the list array, or of its struct.
nanoarrow::UniqueSchema list_schema(ArrowType list_type, std::size_t item, bool in_struct) {
  nanoarrow::UniqueSchema list;
  ArrowSchemaInit(list.get());
  tables::check(ArrowSchemaSetType(list.get(), list_type), "schema");
  tables::check(ArrowSchemaSetType(list->children[0], integer_types[item]), "schema");
  tables::check(ArrowSchemaSetName(list.get(), "answers"), "schema");
  if (!in_struct) return list;
  nanoarrow::UniqueSchema table;
  ArrowSchemaInit(table.get());
  tables::check(ArrowSchemaSetTypeStruct(table.get(), 1), "schema");
  ArrowSchemaMove(list.get(), table->children[0]);
  return table;
}

IntegerCell list_cell(std::int64_t r, std::int64_t k, std::size_t item) { return cell_at(r * 7 + k, item); }

nanoarrow::UniqueArray list_array(const ArrowSchema& schema, std::size_t item, bool in_struct, std::int64_t rows, std::int64_t skip) {
  nanoarrow::UniqueArray array;
  tables::check(ArrowArrayInitFromSchema(array.get(), &schema, nullptr), "array");
  tables::check(ArrowArrayStartAppending(array.get()), "array");
  ArrowArray* lists = in_struct ? array->children[0] : array.get();
  for (std::int64_t r = -skip; r < rows; ++r) {
    if ((r + skip) % 6 == 4) {
      tables::check(ArrowArrayAppendNull(lists, 1), "row");
    } else {
      for (std::int64_t k = 0; k < (r + skip) % 5; ++k) append_cell(lists->children[0], list_cell(r, k, item));
      tables::check(ArrowArrayFinishElement(lists), "row");
    }
    if (in_struct) tables::check(ArrowArrayFinishElement(array.get()), "row");
  }
  tables::check(ArrowArrayFinishBuildingDefault(array.get(), nullptr), "array");
  array->offset = skip;
  array->length = rows;
  return array;
}

TEST_CASE(list_columns_give_one_row_per_list) {
  struct Shape {
    ArrowType list_type;
    std::size_t item;
    bool in_struct;
  };
  for (const Shape shape : {Shape{NANOARROW_TYPE_LIST, 0, false}, Shape{NANOARROW_TYPE_LARGE_LIST, 7, true}}) {
    constexpr std::int64_t rows = 20;
    constexpr std::int64_t skip = 3;
    nanoarrow::UniqueSchema schema = list_schema(shape.list_type, shape.item, shape.in_struct);
    nanoarrow::UniqueArray array = list_array(*schema.get(), shape.item, shape.in_struct, rows, skip);
    tables::TableReader reader(std::move(schema), std::move(array));
    const tables::IntegerRows integer_rows(reader);
    CHECK(reader.next());
    CHECK(reader.rows() == rows);
    std::vector<IntegerCell> cells;
    for (std::int64_t r = 0; r < rows; ++r) {
      const std::string at = ArrowTypeString(shape.list_type) + std::string(" row ") + std::to_string(r);
      const bool is_null = (r + skip) % 6 == 4;
      CHECK_AT(integer_rows.read(r, cells) == !is_null, at);
      if (is_null) continue;
      bool all_same = static_cast<std::int64_t>(cells.size()) == (r + skip) % 5;
      for (std::size_t k = 0; all_same && k < cells.size(); ++k) all_same = same(cells[k], list_cell(r, static_cast<std::int64_t>(k), shape.item));
      CHECK_AT(all_same, at);
    }
    CHECK(!reader.next());
  }
}

TEST_CASE(matrix_rows_read_every_item_size_and_stride) {
  // A 3 x 4 matrix read through strides that step backwards and skip items.
  const std::int64_t values[3][4] = {{1, -2, 127, 4}, {-128, 0, 5, 3}, {2, 2, -1, 1}};
  for (const int size : {1, 2, 4, 8}) {
    for (const bool is_unsigned : {false, true}) {
      std::vector<std::byte> storage(static_cast<std::size_t>(3 * 8 * size));
      for (std::int64_t r = 0; r < 3; ++r) {
        for (std::int64_t c = 0; c < 4; ++c) {
          std::memcpy(storage.data() + ((2 - r) * 8 + c * 2) * size, &values[r][c], static_cast<std::size_t>(size));  // little-endian
        }
      }
      const tables::IntegerMatrix matrix{storage.data() + 2 * 8 * size, 3, 4, -8 * size, 2 * size, size, is_unsigned};
      std::vector<IntegerCell> cells;
      for (std::int64_t r = 0; r < 3; ++r) {
        matrix.read(r, cells);
        bool all_same = cells.size() == 4;
        for (std::size_t c = 0; all_same && c < 4; ++c) {
          const std::int64_t v = values[r][c];
          const std::uint64_t expected = is_unsigned && v < 0 ? (~0ULL >> (64 - 8 * size)) + static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
          all_same = same(cells[c], {expected, is_unsigned, false});
        }
        CHECK_AT(all_same, "items of " + std::to_string(size) + (is_unsigned ? " unsigned" : " signed") + " bytes, row " + std::to_string(r));
      }
    }
  }
}

}  // namespace

namespace {

// One array of `type` holding `texts` (or, for a dictionary, of those texts with these codes).
struct Input {
  nanoarrow::UniqueSchema schema;
  nanoarrow::UniqueArray array;

  template <class T>
  T* buffer(int i) { return static_cast<T*>(const_cast<void*>(array->buffers[i])); }
  // The first batch read, validation and all.
  void read() { tables::TableReader(std::move(schema), std::move(array)).next(); }
};

Input one_column(ArrowType type, const std::vector<std::string>& texts, const std::vector<std::int64_t>& codes = {}) {
  Input in;
  ArrowSchemaInit(in.schema.get());
  tables::check(ArrowSchemaSetType(in.schema.get(), codes.empty() ? type : NANOARROW_TYPE_INT8), "schema");
  if (!codes.empty()) {
    tables::check(ArrowSchemaAllocateDictionary(in.schema.get()), "schema");
    ArrowSchemaInit(in.schema->dictionary);
    tables::check(ArrowSchemaSetType(in.schema->dictionary, type), "schema");
  }
  tables::check(ArrowSchemaSetName(in.schema.get(), "c"), "schema");
  tables::check(ArrowArrayInitFromSchema(in.array.get(), in.schema.get(), nullptr), "array");
  tables::check(ArrowArrayStartAppending(in.array.get()), "array");
  ArrowArray* values = codes.empty() ? in.array.get() : in.array->dictionary;
  for (const std::string& t : texts) tables::check(ArrowArrayAppendString(values, {t.data(), static_cast<std::int64_t>(t.size())}), "text");
  for (const std::int64_t code : codes) tables::check(ArrowArrayAppendInt(in.array.get(), code), "code");
  tables::check(ArrowArrayFinishBuildingDefault(in.array.get(), nullptr), "array");
  return in;
}

TEST_CASE(input_that_cannot_be_read_is_refused_with_the_reason) {
  {
    Input in = one_column(NANOARROW_TYPE_STRING, {"1"});
    const tables::TableReader reader(std::move(in.schema), std::move(in.array));
    CHECK_THROWS(tables::IntegerRows{reader}, tables::Invalid, "column c does not hold integers: string");
  }
  {
    Input in;
    ArrowSchemaInit(in.schema.get());
    tables::check(ArrowSchemaSetType(in.schema.get(), NANOARROW_TYPE_LIST), "schema");
    tables::check(ArrowSchemaSetType(in.schema->children[0], NANOARROW_TYPE_DOUBLE), "schema");
    tables::check(ArrowArrayInitFromSchema(in.array.get(), in.schema.get(), nullptr), "array");
    const tables::TableReader reader(std::move(in.schema), std::move(in.array));
    CHECK_THROWS(tables::IntegerRows{reader}, tables::Invalid, "holds lists of double, not of integers");
  }
  // Offsets that step back, a dictionary code past its dictionary, a view past its data buffer:
  // each comes on the producer's word and would read outside the batch.
  Input offsets = one_column(NANOARROW_TYPE_STRING, {"ab", "c", "def"});
  offsets.buffer<std::int32_t>(1)[2] = 1;
  CHECK_THROWS(offsets.read(), tables::Invalid, "a batch is not valid");
  CHECK_THROWS(one_column(NANOARROW_TYPE_STRING, {"low", "high"}, {1, 2, 0}).read(), tables::Invalid,
               "Expected dictionary index >= 0 and < 2 but found value 2");
  Input views = one_column(NANOARROW_TYPE_STRING_VIEW, {"longer than twelve bytes"});
  views.buffer<ArrowBinaryView>(1)[0].ref.offset = 8;
  CHECK_THROWS(views.read(), tables::Invalid, "column c: a view points outside its data buffers");
}

}  // namespace
