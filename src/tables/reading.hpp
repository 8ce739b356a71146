// Reading Arrow input of any producer: a stream or one array, each batch validated in full before a
// value is read, each column read by what its values are rather than how they are encoded.
#pragma once

#include "tables/arrow.hpp"
#include "tables/schema.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tables {

// What a column's values are. Integer: int8 to int64 and uint8 to uint64. Real: float64. Text:
// utf8, large_utf8, string_view, or a dictionary of those. Bytes: binary, large_binary,
// binary_view, or a dictionary of those. Null: the null type. Other: any other type, whose values
// this reader does not give.
enum class ValueKind : std::uint8_t { Null, Integer, Real, Boolean, Text, Bytes, Other };

// The kind of values of an Arrow type (not a dictionary).
ValueKind kind_of(ArrowType type) noexcept;

// One integer cell of any width, exactly, as its bits and signedness.
struct IntegerCell {
  std::uint64_t bits = 0;  // two's complement when signed
  bool is_unsigned = false;
  bool is_null = false;

  std::int64_t as_signed() const noexcept { return static_cast<std::int64_t>(bits); }
};

// Element i of a validated view of an integer array; null by the view's own validity.
IntegerCell integer_cell(const ArrowArrayView& view, std::int64_t i) noexcept;

// One column of the batch a TableReader holds. Its accessors are for its own kind only and do not
// check it; a row is null when the column's value is, or the whole row is (a null struct entry), or
// a dictionary's value is.
// Texts and bytes point into the batch and live as long as it.
class ColumnReader {
 public:
  const std::string& name() const noexcept { return name_; }
  ValueKind kind() const noexcept { return kind_; }
  // Arrow's type of the column; for a dictionary, of its values.
  ArrowType type() const noexcept { return type_; }
  // The column's field in the reader's schema.
  const ArrowSchema& field() const noexcept { return *field_; }
  // The view of the current batch's array of this column, validated.
  const ArrowArrayView& view() const noexcept { return *view_; }

  // The element of view() that holds a row: a struct's offset applies to its fields too.
  std::int64_t index(std::int64_t row) const noexcept { return row + shift_; }

  bool is_null(std::int64_t row) const noexcept;
  IntegerCell integer(std::int64_t row) const noexcept;
  double real(std::int64_t row) const noexcept { return ArrowArrayViewGetDoubleUnsafe(view_, index(row)); }
  bool boolean(std::int64_t row) const noexcept { return ArrowArrayViewGetIntUnsafe(view_, index(row)) != 0; }
  // Text and Bytes columns, through the dictionary where there is one.
  std::string_view bytes(std::int64_t row) const noexcept;

 private:
  friend class TableReader;
  ColumnReader(std::string name, const ArrowSchema& field);
  // Points the reader at one batch's view of the column, and at its struct (or null for a column
  // that is the batch itself).
  void bind(const ArrowArrayView* view, const ArrowArrayView* parent);

  std::string name_;
  const ArrowSchema* field_;
  ValueKind kind_ = ValueKind::Other;
  ArrowType type_ = NANOARROW_TYPE_UNINITIALIZED;
  bool is_dictionary_ = false;
  const ArrowArrayView* view_ = nullptr;
  const ArrowArrayView* parent_ = nullptr;
  std::int64_t shift_ = 0;
};

// A table read batch by batch. A struct schema's fields are its columns; any other schema is one
// column (named by the schema's name). Batches must match the schema, and are checked as a whole:
// buffers, offsets and dictionary indices by nanoarrow's full validation, and the view types' views.
class TableReader {
 public:
  explicit TableReader(nanoarrow::UniqueArrayStream stream);
  // One array as a table of one batch.
  TableReader(nanoarrow::UniqueSchema schema, nanoarrow::UniqueArray array);
  // Its columns point into it.
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  const ArrowSchema& schema() const noexcept { return *schema_.get(); }
  // The schema's metadata, in its order.
  const Metadata& metadata() const noexcept { return metadata_; }
  std::optional<std::string_view> metadata_value(std::string_view key) const;

  std::size_t columns() const noexcept { return columns_.size(); }
  const ColumnReader& column(std::size_t i) const { return columns_.at(i); }
  // The first column of that name.
  std::optional<std::size_t> find(std::string_view name) const;

  // Moves to the next batch; false once there is none (the batch before is let go either way).
  // Invalid when the producer fails or the batch does not validate.
  bool next();
  // Rows of the current batch.
  std::int64_t rows() const noexcept { return rows_; }
  // Whether a whole row is null: a null entry of a struct batch.
  bool row_is_null(std::int64_t row) const noexcept { return is_struct_ && ArrowArrayViewIsNull(batch_view_.get(), row); }

 private:
  void read_schema();
  void bind(nanoarrow::UniqueArray array);
  const ArrowArray* viewable(const ArrowArray& array);

  nanoarrow::UniqueArrayStream stream_;  // empty for one array
  nanoarrow::UniqueArray pending_;       // the one array, until next() takes it
  nanoarrow::UniqueSchema schema_;
  Metadata metadata_;
  bool is_struct_ = false;
  std::vector<ColumnReader> columns_;
  nanoarrow::UniqueArray batch_;
  nanoarrow::UniqueArrayView batch_view_;
  // Shallow copies of the batch's arrays, where it is viewed through them.
  ArrowArray top_copy_{};
  std::vector<ArrowArray> child_copies_;
  std::vector<ArrowArray*> child_pointers_;
  std::int64_t rows_ = 0;
};

}  // namespace tables
