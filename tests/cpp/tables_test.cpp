// Tables built by this package and read back; Arrow input that must be refused.
#include "check.hpp"
#include "generated_table.hpp"
#include "tables/integer_rows.hpp"
#include "tables/stream.hpp"

#include <string>
#include <vector>

namespace {

using namespace generated;

TEST_CASE(built_stream_reads_back_value_for_value) {
  constexpr std::int64_t rows = 50;
  constexpr std::int64_t batch_rows = 7;
  tables::TableReader reader(tables::make_stream(layout, std::make_unique<Generated>(rows), batch_rows));
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
  tables::TableReader again(tables::make_stream(layout, std::make_unique<Generated>(rows), batch_rows));
  CHECK(check_table(again, true) == rows);
}

TEST_CASE(failing_source_fails_the_stream_for_good) {
  nanoarrow::UniqueArrayStream stream = tables::make_stream(layout, std::make_unique<Generated>(50, 14), 7);
  nanoarrow::UniqueArray batch;
  CHECK(stream->get_next(stream.get(), batch.get()) == 0 && batch->length == 7);
  batch.reset();
  CHECK(stream->get_next(stream.get(), batch.get()) == 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    nanoarrow::UniqueArray failed;
    CHECK(stream->get_next(stream.get(), failed.get()) == EIO);
    CHECK(std::string(stream->get_last_error(stream.get())) == "the source broke");
  }
  tables::TableReader reader(tables::make_stream(layout, std::make_unique<Generated>(50, 7), 7));
  CHECK(reader.next());
  CHECK_THROWS(reader.next(), tables::Invalid, "the Arrow stream failed: the source broke");
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
