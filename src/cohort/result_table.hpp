// A cohort's results as an Arrow table: a row per client, a column per answer-dependent value of
// the report, and the report's shape (everything that depends on the database alone) once, in the
// schema's metadata. Plain C++ over the scoring core and the tables; knows nothing of the host.
#pragma once

#include "mind/keys.hpp"
#include "mind/report_fields.hpp"
#include "mind/scores.hpp"
#include "tables/builders.hpp"
#include "tables/schema.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace cohort_table {

// The columns before the fields, in this order.
inline constexpr std::size_t id_column = 0;
inline constexpr std::size_t error_type_column = 1;
inline constexpr std::size_t error_message_column = 2;
inline constexpr std::size_t error_detail_column = 3;
inline constexpr std::size_t first_field_column = 4;

// The metadata keys: the format's version, and the report's shape as JSON (see report_shape).
inline constexpr const char* format_key = "ardo_old.format";
inline constexpr const char* format_version = "1";
inline constexpr const char* shape_key = "ardo_old.report";

// One batch being built, with its field columns at hand.
struct ResultBatch {
  explicit ResultBatch(const tables::TableLayout& layout) : builder(layout) {}
  tables::BatchBuilder builder;
  std::vector<tables::ColumnBuilder*> fields;  // from first_field_column on
  std::vector<tables::ColumnBuilder*> added;   // the columns of add_columns, for their caller
};

class ResultLayout {
 public:
  // The columns of a battery's results, the client id of type `id_type` (Int64, Utf8, Binary or Null).
  ResultLayout(const mind::Keys& keys, tables::ColumnType id_type);

  const tables::TableLayout& layout() const noexcept { return layout_; }
  // Columns after the fields, which the caller fills, and metadata after the shape.
  void add_columns(const std::vector<tables::ColumnLayout>& columns, const tables::Metadata& metadata);

  // A batch of this layout to fill, its dictionaries holding every text a level, title or type
  // can be, so that every batch of a table carries the same dictionaries.
  std::unique_ptr<ResultBatch> start_batch(std::int64_t rows) const;

  // Appends one client's values to the field columns of `batch`: its Scores, or nulls when its
  // scoring failed.
  void append_scores(ResultBatch& batch, const mind::Scores& scores) const;
  void append_no_scores(ResultBatch& batch) const;

  // The fields in report order, and the name and type of the column of field i.
  const std::vector<mind::ReportField>& fields() const noexcept { return fields_; }
  const tables::ColumnLayout& column_of(std::size_t field) const { return layout_.columns.at(column_of_.at(field)); }

 private:
  struct Column {
    mind::ReportField field;  // the first of its name
    tables::ColumnType type;
  };

  std::vector<mind::ReportField> fields_;  // in report order
  std::vector<std::size_t> column_of_;     // of each field
  std::vector<Column> columns_;            // the field columns, from first_field_column on
  std::vector<std::string> titles_;        // by title code
  tables::TableLayout layout_;
};

// The report but "client_id" as JSON, each value a client's answers decide standing for its
// column: null, integers, strings and arrays as they are; {"float": "<hex>"}, {"bytes": "<hex>"},
// {"map": [[key, value], ...]} and {"field": "<column>", "type": "int" | "float" | "str"}.
// "null" when no client could score on these keys.
std::string report_shape(const mind::Keys& keys, const ResultLayout& layout);

}  // namespace cohort_table
