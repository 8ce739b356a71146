#include "tables/schema.hpp"

namespace tables {

namespace {

ArrowStringView view_of(const std::string& s) { return {s.data(), static_cast<std::int64_t>(s.size())}; }

void set_field_type(ArrowSchema* field, ColumnType type) {
  switch (type) {
    case ColumnType::Int64:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_INT64), "an int64 field");
    case ColumnType::Float64:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_DOUBLE), "a float64 field");
    case ColumnType::Bool:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_BOOL), "a bool field");
    case ColumnType::Utf8:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_STRING), "a utf8 field");
    case ColumnType::Binary:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_BINARY), "a binary field");
    case ColumnType::Null:
      return check(ArrowSchemaSetType(field, NANOARROW_TYPE_NA), "a null field");
    case ColumnType::Dictionary:
      check(ArrowSchemaSetType(field, NANOARROW_TYPE_INT32), "a dictionary field");
      check(ArrowSchemaAllocateDictionary(field), "a dictionary field");
      ArrowSchemaInit(field->dictionary);
      return check(ArrowSchemaSetType(field->dictionary, NANOARROW_TYPE_STRING), "a dictionary field");
  }
}

void set_metadata(ArrowSchema* schema, const Metadata& metadata) {
  if (metadata.empty()) return;
  nanoarrow::UniqueBuffer blob;
  check(ArrowMetadataBuilderInit(blob.get(), nullptr), "schema metadata");
  for (const auto& [key, value] : metadata) {
    check(ArrowMetadataBuilderAppend(blob.get(), view_of(key), view_of(value)), "schema metadata");
  }
  check(ArrowSchemaSetMetadata(schema, reinterpret_cast<const char*>(blob->data)), "schema metadata");
}

}  // namespace

nanoarrow::UniqueSchema make_schema(const TableLayout& layout) {
  nanoarrow::UniqueSchema schema;
  ArrowSchemaInit(schema.get());
  check(ArrowSchemaSetTypeStruct(schema.get(), static_cast<std::int64_t>(layout.columns.size())), "the table schema");
  for (std::size_t i = 0; i < layout.columns.size(); ++i) {
    ArrowSchema* field = schema->children[i];
    // Arrow keeps a field name as a C string.
    if (layout.columns[i].name.find('\0') != std::string::npos) throw std::invalid_argument("a column name holds a NUL character");
    set_field_type(field, layout.columns[i].type);
    check(ArrowSchemaSetName(field, layout.columns[i].name.c_str()), "a field name");
  }
  set_metadata(schema.get(), layout.metadata);
  return schema;
}

Metadata read_metadata(const char* metadata) {
  Metadata pairs;
  if (metadata == nullptr) return pairs;
  ArrowMetadataReader reader;
  ArrowStringView key;
  ArrowStringView value;
  if (ArrowMetadataReaderInit(&reader, metadata) != NANOARROW_OK) throw Invalid("the schema metadata is malformed");
  while (reader.remaining_keys > 0) {
    if (ArrowMetadataReaderRead(&reader, &key, &value) != NANOARROW_OK) throw Invalid("the schema metadata is malformed");
    pairs.emplace_back(std::string(key.data, static_cast<std::size_t>(key.size_bytes)),
                       std::string(value.data, static_cast<std::size_t>(value.size_bytes)));
  }
  return pairs;
}

}  // namespace tables
