#include "tables/reading.hpp"

#include <algorithm>
#include <cstring>

namespace tables {

ValueKind kind_of(ArrowType type) noexcept {
  switch (type) {
    case NANOARROW_TYPE_NA:
      return ValueKind::Null;
    case NANOARROW_TYPE_INT8:
    case NANOARROW_TYPE_INT16:
    case NANOARROW_TYPE_INT32:
    case NANOARROW_TYPE_INT64:
    case NANOARROW_TYPE_UINT8:
    case NANOARROW_TYPE_UINT16:
    case NANOARROW_TYPE_UINT32:
    case NANOARROW_TYPE_UINT64:
      return ValueKind::Integer;
    case NANOARROW_TYPE_DOUBLE:
      return ValueKind::Real;
    case NANOARROW_TYPE_BOOL:
      return ValueKind::Boolean;
    case NANOARROW_TYPE_STRING:
    case NANOARROW_TYPE_LARGE_STRING:
    case NANOARROW_TYPE_STRING_VIEW:
      return ValueKind::Text;
    case NANOARROW_TYPE_BINARY:
    case NANOARROW_TYPE_LARGE_BINARY:
    case NANOARROW_TYPE_BINARY_VIEW:
      return ValueKind::Bytes;
    default:
      return ValueKind::Other;
  }
}

namespace {

ArrowSchemaView view_of_schema(const ArrowSchema& schema, const std::string& what) {
  ArrowSchemaView view;
  ArrowError error{};
  check_input(ArrowSchemaViewInit(&view, &schema, &error), what + " has an unreadable type", error);
  return view;
}

bool is_view_type(ArrowType type) { return type == NANOARROW_TYPE_STRING_VIEW || type == NANOARROW_TYPE_BINARY_VIEW; }

// Validation takes the views of string_view and binary_view arrays on trust; each view that
// points into a data buffer must stay inside it.
void check_views(const ArrowArrayView& view, const std::string& column) {
  if (view.dictionary != nullptr) check_views(*view.dictionary, column);
  if (!is_view_type(view.storage_type)) return;
  const ArrowBinaryView* views = view.buffer_views[1].data.as_binary_view + view.offset;
  for (std::int64_t i = 0; i < view.length; ++i) {
    const ArrowBinaryView& v = views[i];
    if (v.inlined.size < 0) throw Invalid("column " + column + ": a view has a negative size");
    if (v.inlined.size <= NANOARROW_BINARY_VIEW_INLINE_SIZE) continue;
    const bool inside = v.ref.buffer_index >= 0 && v.ref.buffer_index < view.n_variadic_buffers && v.ref.offset >= 0 &&
                        std::int64_t{v.ref.offset} + v.ref.size <= view.variadic_buffer_sizes[v.ref.buffer_index];
    if (!inside) throw Invalid("column " + column + ": a view points outside its data buffers");
  }
}

}  // namespace

ColumnReader::ColumnReader(std::string name, const ArrowSchema& field) : name_(std::move(name)), field_(&field) {
  const ArrowSchemaView view = view_of_schema(field, "column " + name_);
  type_ = view.type;
  if (type_ == NANOARROW_TYPE_DICTIONARY) {
    is_dictionary_ = true;
    type_ = view_of_schema(*field.dictionary, "the dictionary of column " + name_).type;
  }
  kind_ = kind_of(type_);
  if (is_dictionary_ && kind_ != ValueKind::Text && kind_ != ValueKind::Bytes) kind_ = ValueKind::Other;
}

void ColumnReader::bind(const ArrowArrayView* view, const ArrowArrayView* parent) {
  view_ = view;
  parent_ = parent != nullptr && parent->null_count != 0 ? parent : nullptr;
  shift_ = parent == nullptr ? 0 : parent->offset;
  check_views(*view, name_);
}

bool ColumnReader::is_null(std::int64_t row) const noexcept {
  if (ArrowArrayViewIsNull(view_, index(row)) || (parent_ != nullptr && ArrowArrayViewIsNull(parent_, row))) return true;
  return is_dictionary_ && ArrowArrayViewIsNull(view_->dictionary, ArrowArrayViewGetIntUnsafe(view_, index(row)));
}

IntegerCell integer_cell(const ArrowArrayView& view, std::int64_t i) noexcept {
  IntegerCell cell;
  cell.is_null = ArrowArrayViewIsNull(&view, i);
  switch (view.storage_type) {
    case NANOARROW_TYPE_UINT8:
    case NANOARROW_TYPE_UINT16:
    case NANOARROW_TYPE_UINT32:
    case NANOARROW_TYPE_UINT64:
      cell.is_unsigned = true;
      cell.bits = ArrowArrayViewGetUIntUnsafe(&view, i);
      break;
    default:
      cell.bits = static_cast<std::uint64_t>(ArrowArrayViewGetIntUnsafe(&view, i));
  }
  return cell;
}

IntegerCell ColumnReader::integer(std::int64_t row) const noexcept {
  IntegerCell cell = integer_cell(*view_, index(row));
  cell.is_null = is_null(row);
  return cell;
}

std::string_view ColumnReader::bytes(std::int64_t row) const noexcept {
  const ArrowArrayView* values = view_;
  std::int64_t i = index(row);
  if (is_dictionary_) {
    values = view_->dictionary;
    i = ArrowArrayViewGetIntUnsafe(view_, i);
  }
  const ArrowBufferView bytes = ArrowArrayViewGetBytesUnsafe(values, i);
  return {bytes.data.as_char, static_cast<std::size_t>(bytes.size_bytes)};
}

TableReader::TableReader(nanoarrow::UniqueArrayStream stream) : stream_(std::move(stream)) {
  ArrowError error{};
  check_input(ArrowArrayStreamGetSchema(stream_.get(), schema_.get(), &error), "the Arrow stream gave no schema", error);
  read_schema();
}

TableReader::TableReader(nanoarrow::UniqueSchema schema, nanoarrow::UniqueArray array)
    : pending_(std::move(array)), schema_(std::move(schema)) {
  read_schema();
}

void TableReader::read_schema() {
  is_struct_ = view_of_schema(*schema_.get(), "the table").type == NANOARROW_TYPE_STRUCT;
  if (is_struct_) {
    for (std::int64_t i = 0; i < schema_->n_children; ++i) {
      const ArrowSchema& field = *schema_->children[i];
      columns_.push_back(ColumnReader(field.name == nullptr ? "" : field.name, field));
    }
  } else {
    columns_.push_back(ColumnReader(schema_->name == nullptr ? "" : schema_->name, *schema_.get()));
  }
  metadata_ = read_metadata(schema_->metadata);
  ArrowError error{};
  check_input(ArrowArrayViewInitFromSchema(batch_view_.get(), schema_.get(), &error), "the table's schema", error);
}

std::optional<std::string_view> TableReader::metadata_value(std::string_view key) const {
  for (const auto& [k, value] : metadata_) {
    if (k == key) return value;
  }
  return std::nullopt;
}

std::optional<std::size_t> TableReader::find(std::string_view name) const {
  const auto found = std::find_if(columns_.begin(), columns_.end(), [&](const ColumnReader& c) { return c.name() == name; });
  if (found == columns_.end()) return std::nullopt;
  return static_cast<std::size_t>(found - columns_.begin());
}

bool TableReader::next() {
  batch_.reset();
  rows_ = 0;
  nanoarrow::UniqueArray array;
  if (stream_->release != nullptr) {
    ArrowError error{};
    check_input(ArrowArrayStreamGetNext(stream_.get(), array.get(), &error), "the Arrow stream failed", error);
  } else {
    array = std::move(pending_);
  }
  if (array->release == nullptr) return false;
  bind(std::move(array));
  return true;
}

// Producers such as polars give a null-type array one buffer, where the format has none and
// nanoarrow takes none. Such a batch is viewed through shallow copies of its arrays that have none;
// the producer's own arrays stay as they are, for their release.
const ArrowArray* TableReader::viewable(const ArrowArray& array) {
  auto stray_buffer = [](const ColumnReader& column, const ArrowArray& a) {
    return std::strcmp(column.field().format, "n") == 0 && a.n_buffers != 0;
  };
  if (!is_struct_) {
    if (!stray_buffer(columns_[0], array)) return &array;
    top_copy_ = array;
    top_copy_.n_buffers = 0;
    return &top_copy_;
  }
  if (array.n_children != static_cast<std::int64_t>(columns_.size())) return &array;  // refused by the view
  child_copies_.clear();
  child_pointers_.clear();
  bool any = false;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    child_copies_.push_back(*array.children[i]);
    if (stray_buffer(columns_[i], *array.children[i])) {
      child_copies_.back().n_buffers = 0;
      any = true;
    }
  }
  if (!any) return &array;
  for (ArrowArray& copy : child_copies_) child_pointers_.push_back(&copy);
  top_copy_ = array;
  top_copy_.children = child_pointers_.data();
  return &top_copy_;
}

void TableReader::bind(nanoarrow::UniqueArray array) {
  ArrowError error{};
  check_input(ArrowArrayViewSetArray(batch_view_.get(), viewable(*array.get()), &error), "a batch does not match its schema", error);
  check_input(ArrowArrayViewValidate(batch_view_.get(), NANOARROW_VALIDATION_LEVEL_FULL, &error), "a batch is not valid",
              error);
  const ArrowArrayView* parent = is_struct_ ? batch_view_.get() : nullptr;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    columns_[i].bind(is_struct_ ? batch_view_->children[i] : batch_view_.get(), parent);
  }
  batch_ = std::move(array);
  rows_ = batch_->length;
}

}  // namespace tables
