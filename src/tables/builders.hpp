// Record batches built row by row: one builder per column, each appending a value or a null for
// every row, then the batch handed out whole as a struct array.
#pragma once

#include "tables/arrow.hpp"
#include "tables/schema.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tables {

// One column of the batch being built. A builder lives as long as its BatchBuilder and serves
// batch after batch, so a caller may keep a reference to it across batches.
class ColumnBuilder {
 public:
  ColumnBuilder() = default;
  ColumnBuilder(const ColumnBuilder&) = delete;
  ColumnBuilder& operator=(const ColumnBuilder&) = delete;
  virtual ~ColumnBuilder() = default;

  void append_null() { check(ArrowArrayAppendNull(array_, 1), "appending a null"); }
  std::int64_t length() const noexcept { return array_->length; }

 protected:
  friend class BatchBuilder;
  // The batch's own child array for this column, empty and ready for appending.
  void bind(ArrowArray* array) noexcept;
  // Completes the column just before its batch is handed out.
  virtual void complete() {}

  // What nanoarrow's own append does for a fixed-width value, without finding the buffers and
  // dispatching on the type for every value: a table has millions of them.
  template <class Value>
  void append_fixed(Value value) {
    if (data_->size_bytes + static_cast<std::int64_t>(sizeof value) > data_->capacity_bytes) [[unlikely]] {
      check(ArrowBufferReserve(data_, sizeof value), "appending a value");
    }
    ArrowBufferAppendUnsafe(data_, &value, sizeof value);
    // The validity bitmap exists once the column has had a null.
    if (validity_->buffer.data != nullptr) [[unlikely]] check(ArrowBitmapAppend(validity_, 1, 1), "appending a value");
    ++array_->length;
  }

  ArrowArray* array_ = nullptr;
  ArrowBuffer* data_ = nullptr;
  ArrowBitmap* validity_ = nullptr;
};

class Int64Builder final : public ColumnBuilder {
 public:
  void append(std::int64_t value) { append_fixed(value); }
};

// The value's bits are kept exactly: signed zeros and every NaN payload.
class Float64Builder final : public ColumnBuilder {
 public:
  void append(double value) { append_fixed(value); }
};

class BoolBuilder final : public ColumnBuilder {
 public:
  void append(bool value) { check(ArrowArrayAppendInt(array_, value ? 1 : 0), "appending a bool"); }
};

// A utf8 or a binary column: the bytes as given (a utf8 column's must be UTF-8).
class BytesBuilder final : public ColumnBuilder {
 public:
  void append(std::string_view bytes) {
    check(ArrowArrayAppendString(array_, {bytes.data(), static_cast<std::int64_t>(bytes.size())}), "appending bytes");
  }
};

// A dictionary-encoded utf8 column. The dictionary grows as texts come and every batch carries all
// of it, so a code keeps its text for the whole stream. `code` finds a text's code once; `append_code`
// is then a plain integer append.
class DictionaryBuilder final : public ColumnBuilder {
 public:
  std::int32_t code(std::string_view text);
  // A code from `code`.
  void append_code(std::int32_t code) { append_fixed(code); }
  void append(std::string_view text) { append_code(code(text)); }

 private:
  void complete() override;

  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  std::vector<std::string> texts_;
  std::unordered_map<std::string, std::int32_t, Hash, std::equal_to<>> codes_;
};

// A ColumnType::Null column: nulls only.
class NullBuilder final : public ColumnBuilder {};

// Builds the record batches of one table, one at a time.
class BatchBuilder {
 public:
  explicit BatchBuilder(const TableLayout& layout);

  const ArrowSchema& schema() const noexcept { return *schema_.get(); }
  std::size_t columns() const noexcept { return columns_.size(); }
  // Column i's builder, which must be of type `Builder` (std::logic_error otherwise).
  template <class Builder>
  Builder& column(std::size_t i) {
    auto* builder = dynamic_cast<Builder*>(columns_.at(i).get());
    if (builder == nullptr) throw std::logic_error("column " + std::to_string(i) + " has another type");
    return *builder;
  }

  // Begins a new, empty batch with room for `rows` fixed-width values in every column.
  void start(std::int64_t rows);
  // The batch built since `start`: every column must have the same length, which is the batch's.
  // The builders take no values until the next `start`.
  nanoarrow::UniqueArray finish();

 private:
  nanoarrow::UniqueSchema schema_;
  std::vector<std::unique_ptr<ColumnBuilder>> columns_;
  nanoarrow::UniqueArray batch_;
};

}  // namespace tables
