#include "cohort/table_measures.hpp"

#include "psychometrics/flags.hpp"
#include "psychometrics/norm_host.hpp"
#include "psychometrics/parallel.hpp"
#include "psychometrics/quality.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

namespace cohort {

namespace {

namespace ps = psychometrics;
using tables::ColumnType;

// The columns of each kind, in this order. A report field's name ends in one of a fixed set of keys
// (a pole's letter, "title", "type", a style, an emotion or a role, "score", "level",
// "percentage"), its segments escaping every "." of a name, so a norm column (a field's name and one
// more key, none of these even ignoring case) or a quality column (a first segment no field has)
// never takes a field's name.
constexpr const char* quality_names[] = {"quality.longstring", "quality.irv", "quality.mahalanobis_d2", "quality.mahalanobis_p",
                                         "quality.flag"};
constexpr ColumnType quality_types[] = {ColumnType::Int64, ColumnType::Float64, ColumnType::Float64, ColumnType::Float64,
                                        ColumnType::Dictionary};
constexpr const char* norm_suffixes[] = {".percentile", ".t_score", ".sten", ".stanine", ".range"};
constexpr ColumnType norm_types[] = {ColumnType::Float64, ColumnType::Float64, ColumnType::Int64, ColumnType::Int64,
                                     ColumnType::Dictionary};
constexpr std::size_t per_client = std::size(quality_names);
constexpr std::size_t per_scale = std::size(norm_suffixes);

inline constexpr const char* norm_group_key = "ardo_old.norms.group";
inline constexpr const char* norm_date_key = "ardo_old.norms.date";

// Every flag a client can carry, in the order flag_clients joins them.
std::vector<std::string> every_flag() {
  std::vector<std::string> flags;
  for (const bool long_string : {false, true}) {
    for (const char* variability : {static_cast<const char*>(nullptr), ps::flag_low_variability, ps::flag_high_variability}) {
      for (const bool distant : {false, true}) {
        std::string flag;
        if (long_string) ps::add_flag(flag, ps::flag_long_string);
        if (variability != nullptr) ps::add_flag(flag, variability);
        if (distant) ps::add_flag(flag, ps::flag_mahalanobis);
        if (!flag.empty()) flags.push_back(std::move(flag));
      }
    }
  }
  return flags;
}

// A value that is not a finite number is null, as the host's statistics give it.
void append_real(tables::Float64Builder& builder, const std::optional<double>& value) {
  if (value && std::isfinite(*value)) return builder.append(*value);
  builder.append_null();
}

template <class Integer>
void append_integer(tables::Int64Builder& builder, const std::optional<Integer>& value) {
  if (value) return builder.append(static_cast<std::int64_t>(*value));
  builder.append_null();
}

bool fits_byte(std::int64_t value) {
  return value >= std::numeric_limits<std::int8_t>::min() && value <= std::numeric_limits<std::int8_t>::max();
}

}  // namespace

TableMeasures::TableMeasures(const mind::Keys& keys, bool quality, PyObject* norms, std::size_t workers) : quality_(quality) {
  if (norms == nullptr || norms == Py_None) return;
  group_ = norm_host::read_group(norms);
  scales_ = mind::battery_scales(keys);
  questions_ = mind::questions_reached(scales_);
  for (std::size_t s = 0; s < scales_.size(); ++s) {
    const auto norm = std::find_if(group_->scales.begin(), group_->scales.end(), [&](const ps::ScaleNorm& n) { return n.scale == scales_[s].field.name; });
    if (norm != group_->scales.end()) normed_.push_back({s, &*norm});
  }
  classes_.resize(workers);
}

void TableMeasures::add_columns(cohort_table::ResultLayout& layout) {
  std::vector<tables::ColumnLayout> columns;
  tables::Metadata metadata;
  quality_column_ = layout.layout().columns.size();
  if (quality_) {
    for (std::size_t c = 0; c < per_client; ++c) columns.push_back({quality_names[c], quality_types[c]});
  }
  norm_column_ = quality_column_ + columns.size();
  for (const NormedScale& normed : normed_) {
    for (std::size_t c = 0; c < per_scale; ++c) columns.push_back({scales_[normed.scale].field.name + norm_suffixes[c], norm_types[c]});
  }
  if (group_) metadata = {{norm_group_key, group_->name}, {norm_date_key, group_->date}};
  layout.add_columns(columns, metadata);
}

void TableMeasures::start(cohort_table::ResultBatch& batch) const {
  tables::BatchBuilder& b = batch.builder;
  for (std::size_t c = quality_column_; c < b.columns(); ++c) batch.added.push_back(&b.column<tables::ColumnBuilder>(c));
  if (quality_) {
    auto& flag = b.column<tables::DictionaryBuilder>(quality_column_ + per_client - 1);
    for (const std::string& text : every_flag()) flag.code(text);
  }
  for (std::size_t n = 0; n < normed_.size(); ++n) {
    auto& range = b.column<tables::DictionaryBuilder>(norm_column_ + n * per_scale + per_scale - 1);
    range.code("below");
    range.code("above");
  }
}

void TableMeasures::append_norms(cohort_table::ResultBatch& batch, const mind::Answers* scored, std::size_t worker) {
  if (normed_.empty()) return;
  tables::ColumnBuilder* const* column = batch.added.data() + (norm_column_ - quality_column_);
  if (scored == nullptr) {
    for (std::size_t c = 0; c < normed_.size() * per_scale; ++c) column[c]->append_null();
    return;
  }
  std::vector<std::uint8_t>& classes = classes_[worker];
  mind::classify_answers(*scored, classes, questions_);
  // The layout made each column's builder of its type, and start() gave below and above codes 0, 1.
  for (const NormedScale& normed : normed_) {
    const ps::NormedScore score = ps::normed_score(*normed.norm, mind::scale_total(scales_[normed.scale], classes));
    append_real(static_cast<tables::Float64Builder&>(**column++), score.percentile);
    append_real(static_cast<tables::Float64Builder&>(**column++), score.t);
    append_integer(static_cast<tables::Int64Builder&>(**column++), score.sten);
    append_integer(static_cast<tables::Int64Builder&>(**column++), score.stanine);
    auto& range = static_cast<tables::DictionaryBuilder&>(**column++);
    if (score.range == ps::Range::inside) {
      range.append_null();
    } else {
      range.append_code(score.range == ps::Range::below ? 0 : 1);
    }
  }
}

void TableMeasures::keep(const tables::RowAnswers& row) {
  if (!quality_) return;
  row_.clear();
  bool kept = !row.is_null;
  auto unusual = row.unusual.begin();
  for (std::size_t position = 0; kept && position < row.answers.walk(); ++position) {
    const mind::Answer& answer = row.answers.at(position);
    if (answer.equal != 0) {
      row_.push_back(static_cast<std::int8_t>(std::countr_zero(answer.equal) + 1));
      continue;
    }
    while (unusual != row.unusual.end() && unusual->first < position) ++unusual;
    if (unusual == row.unusual.end() || unusual->first != position) {
      kept = false;
      break;
    }
    const tables::IntegerCell& cell = unusual->second;
    kept = !cell.is_null && !(cell.is_unsigned && cell.bits > static_cast<std::uint64_t>(INT64_MAX)) && fits_byte(cell.as_signed());
    row_.push_back(static_cast<std::int8_t>(cell.as_signed()));
  }
  keep_row(kept);
}

void TableMeasures::keep(const bridge::Snapshot& snapshot) {
  if (!quality_) return;
  row_.clear();
  bool kept = true;
  for (std::size_t position = 0; kept && position < snapshot.objects.size(); ++position) {
    PyObject* answer = snapshot.objects[position].get();
    int overflow = 0;
    const long long value = PyLong_Check(answer) ? PyLong_AsLongLongAndOverflow(answer, &overflow) : 0;
    kept = PyLong_Check(answer) && overflow == 0 && fits_byte(value);
    row_.push_back(static_cast<std::int8_t>(value));
  }
  keep_row(kept);
}

void TableMeasures::keep_none() {
  if (quality_) has_quality_.push_back(false);
}

void TableMeasures::keep_row(bool kept) {
  if (kept && !width_) width_ = row_.size();
  kept = kept && row_.size() == *width_;
  if (kept) answers_.insert(answers_.end(), row_.begin(), row_.end());
  has_quality_.push_back(kept);
}

void TableMeasures::append_quality(const std::vector<std::unique_ptr<cohort_table::ResultBatch>>& batches, std::size_t threads) {
  const std::size_t width = width_.value_or(0);
  const auto clients = static_cast<std::size_t>(std::count(has_quality_.begin(), has_quality_.end(), true));
  const std::size_t parts = ps::part_count(clients, threads);
  // Each part reads its clients' answers into scores of its own.
  const auto over_clients = [&](const auto& body) {
    ps::run_parts(parts, [&](std::size_t part) {
      std::vector<ps::Score> scores(width);
      const ps::RowRange range = ps::part_range(clients, parts, part);
      for (std::size_t c = range.first; c < range.end; ++c) {
        std::copy_n(answers_.begin() + static_cast<std::ptrdiff_t>(c * width), width, scores.begin());
        body(part, c, std::span<const ps::Score>(scores));
      }
    });
  };
  std::vector<ps::ScaleSums> sums(parts, ps::ScaleSums(width));
  over_clients([&](std::size_t part, std::size_t, std::span<const ps::Score> scores) { sums[part].add(scores); });
  for (std::size_t part = 1; part < parts; ++part) sums[0].merge(sums[part]);
  const ps::AnswerModel model(sums[0]);
  std::vector<ps::ClientQuality> quality(clients);
  over_clients([&](std::size_t, std::size_t c, std::span<const ps::Score> scores) { quality[c] = ps::client_quality(scores, model); });
  ps::flag_clients(quality, ps::cohort_fences(quality));

  std::size_t client = 0;
  std::size_t next = 0;
  for (const auto& batch : batches) {
    const std::int64_t rows = batch->builder.column<tables::ColumnBuilder>(cohort_table::id_column).length();
    tables::ColumnBuilder* const* column = batch->added.data();  // quality's columns come first
    for (std::int64_t row = 0; row < rows; ++row) {
      if (!has_quality_[client++]) {
        for (std::size_t c = 0; c < per_client; ++c) column[c]->append_null();
        continue;
      }
      const ps::ClientQuality& q = quality[next++];
      static_cast<tables::Int64Builder&>(*column[0]).append(q.longstring);
      append_real(static_cast<tables::Float64Builder&>(*column[1]), q.irv);
      append_real(static_cast<tables::Float64Builder&>(*column[2]), q.mahalanobis_d2);
      append_real(static_cast<tables::Float64Builder&>(*column[3]), q.mahalanobis_p);
      auto& flag = static_cast<tables::DictionaryBuilder&>(*column[4]);
      if (q.flag.empty()) {
        flag.append_null();
      } else {
        flag.append(q.flag);
      }
    }
  }
}

}  // namespace cohort
