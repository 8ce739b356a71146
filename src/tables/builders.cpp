#include "tables/builders.hpp"

#include <limits>

namespace tables {

void ColumnBuilder::bind(ArrowArray* array) noexcept {
  array_ = array;
  data_ = array == nullptr ? nullptr : ArrowArrayBuffer(array, 1);
  validity_ = array == nullptr ? nullptr : ArrowArrayValidityBitmap(array);
}

std::int32_t DictionaryBuilder::code(std::string_view text) {
  if (const auto found = codes_.find(text); found != codes_.end()) return found->second;
  if (texts_.size() == static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::length_error("a dictionary column holds too many distinct texts");
  }
  const auto code = static_cast<std::int32_t>(texts_.size());
  texts_.emplace_back(text);
  codes_.emplace(texts_.back(), code);
  return code;
}

void DictionaryBuilder::complete() {
  for (const std::string& text : texts_) {
    check(ArrowArrayAppendString(array_->dictionary, {text.data(), static_cast<std::int64_t>(text.size())}),
          "appending a dictionary text");
  }
}

namespace {

std::unique_ptr<ColumnBuilder> builder_for(ColumnType type) {
  switch (type) {
    case ColumnType::Int64:
      return std::make_unique<Int64Builder>();
    case ColumnType::Float64:
      return std::make_unique<Float64Builder>();
    case ColumnType::Bool:
      return std::make_unique<BoolBuilder>();
    case ColumnType::Utf8:
    case ColumnType::Binary:
      return std::make_unique<BytesBuilder>();
    case ColumnType::Dictionary:
      return std::make_unique<DictionaryBuilder>();
    case ColumnType::Null:
      return std::make_unique<NullBuilder>();
  }
  throw std::logic_error("unknown column type");
}

}  // namespace

BatchBuilder::BatchBuilder(const TableLayout& layout) : schema_(make_schema(layout)) {
  columns_.reserve(layout.columns.size());
  for (const ColumnLayout& column : layout.columns) columns_.push_back(builder_for(column.type));
}

void BatchBuilder::start(std::int64_t rows) {
  batch_.reset();
  ArrowError error{};
  check(ArrowArrayInitFromSchema(batch_.get(), schema_.get(), &error), "a record batch");
  check(ArrowArrayStartAppending(batch_.get()), "a record batch");
  check(ArrowArrayReserve(batch_.get(), rows), "a record batch");
  for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i]->bind(batch_->children[i]);
}

nanoarrow::UniqueArray BatchBuilder::finish() {
  const std::int64_t rows = columns_.empty() ? 0 : columns_.front()->length();
  for (const auto& column : columns_) {
    if (column->length() != rows) throw std::logic_error("the columns of a batch differ in length");
    column->complete();
  }
  batch_->length = rows;
  ArrowError error{};
  check(ArrowArrayFinishBuildingDefault(batch_.get(), &error), "a record batch");
  for (const auto& column : columns_) column->bind(nullptr);
  return std::move(batch_);
}

}  // namespace tables
