#include "mind/tally.hpp"

#include "mind/first_index.hpp"
#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"

namespace mind {

bool is_not_blank(const Cell& cell) noexcept { return !cell.is_missing() && !cell.is_text(""); }

bool is_method_code(const Cell& cell) noexcept { return method_of(cell) >= 0; }

namespace {

// One row's share: its answer is taken before any of its cells.
template <CellTest counts, class Row>
void tally_row(const Row& cells, std::size_t row, const Answers& answers, const std::vector<TallyTarget>& targets,
               std::vector<std::int64_t>& totals) {
  const Answer& answer = answers.at(row);
  for (const TallyTarget& target : targets) {
    if (!target.column) fail(MissingKey{Value(target.name)});
    const Cell cell = cells[*target.column];
    if (!counts(cell)) continue;
    if (!target.total) fail(MissingKey{Value(target.name)});
    totals[*target.total] += strict_points(cell, answer, row);
  }
}

// Totals indexed as the targets' `total`, of a key whose every cell but a blank one counts.
std::vector<std::int64_t> tally_not_blank(const Table& table, const Answers& answers, const std::vector<TallyTarget>& targets,
                                          std::size_t total_count) {
  std::vector<std::int64_t> totals(total_count, 0);
  for (std::size_t row = 0; row < table.row_count(); ++row) tally_row<is_not_blank>(table.row_view(row), row, answers, targets, totals);
  return totals;
}

}  // namespace

TallyLayout::TallyLayout(std::vector<std::string> column_names)
    : columns(std::make_unique<Table>(std::move(column_names))), targets(column_targets(*columns, names)) {}

namespace {

std::vector<std::string> names_of(const Table& table) {
  std::vector<std::string> names;
  names.reserve(table.columns().size());
  for (const Column& column : table.columns()) names.push_back(column.name);
  return names;
}

}  // namespace

KeptKey::KeptKey(const Table& table, std::vector<TallyTarget> targets, CellTest counts) : targets_(std::move(targets)) {
  row_ends_.reserve(table.row_count());
  for (std::size_t row = 0; row < table.row_count(); ++row) {
    const auto cells = table.row_view(row);
    for (std::size_t t = 0; t < targets_.size(); ++t) {
      const auto target = static_cast<std::uint32_t>(t);
      if (!targets_[t].column) {
        counted_.push_back({target, NoColumn});
        continue;
      }
      const Cell cell = cells[*targets_[t].column];
      if (!counts(cell)) continue;
      const int method = method_of(cell);
      if (method >= 0) {
        counted_.push_back({target, static_cast<std::int8_t>(method)});
      } else {
        counted_.push_back({target, NotACode, static_cast<std::uint32_t>(codes_.size())});
        codes_.push_back(Value::from_cell(cell));
      }
    }
    row_ends_.push_back(counted_.size());
  }
}

// The same steps as tally_row, in the same order: the answer, then each cell's target and method.
void KeptKey::tally(const Answers& answers, std::vector<std::int64_t>& totals) const {
  std::size_t first = 0;
  for (std::size_t row = 0; row < row_ends_.size(); ++row) {
    const Answer& answer = answers.at(row);
    for (std::size_t i = first; i < row_ends_[row]; ++i) {
      const Counted& counted = counted_[i];
      const TallyTarget& target = targets_[counted.target];
      if (counted.method < 0 || !target.total) fail_at(counted);
      totals[*target.total] += method_points(counted.method, Answers::strict_entry(answer, row));
    }
    first = row_ends_[row];
  }
}

void KeptKey::fail_at(const Counted& counted) const {
  const TallyTarget& target = targets_[counted.target];
  if (counted.method == NoColumn || !target.total) fail(MissingKey{Value(target.name)});
  fail(MissingKey{codes_[counted.code]});
}

TallyKey::TallyKey(const Table& table) : layout_(names_of(table)), rows_(table, layout_.targets, is_method_code) {}

void KeyTally::begin(const TallyLayout& layout) {
  layout_ = &layout;
  totals_.assign(layout.names.size(), 0);
}

void KeyTally::start(std::vector<std::string> column_names) { begin(own_.emplace(std::move(column_names))); }

// Method codes are texts, so reading a row as stored or with its numbers as reals counts alike.
void KeyTally::take_row(const Cell* cells) {
  const std::size_t row = rows_++;
  if (failure_) return;
  try {
    tally_row<is_method_code>(cells, row, *answers_, layout_->targets, totals_);
  } catch (Failure& failure) {
    failure_.emplace(std::move(failure));
  }
}

void KeyTally::take_key(const TallyKey& key) {
  begin(key.layout_);
  try {
    key.rows_.tally(*answers_, totals_);
  } catch (Failure& failure) {
    failure_.emplace(std::move(failure));
  }
}

const std::vector<std::int64_t>& KeyTally::totals() const {
  if (failure_) throw *failure_;
  return totals_;
}

std::vector<TallyTarget> named_targets(const Table& table, const std::string_view* names, std::size_t count) {
  std::vector<TallyTarget> targets;
  targets.reserve(count);
  for (std::size_t i = 0; i < count; ++i) targets.push_back({names[i], table.find(names[i]), i});
  return targets;
}

namespace {

Map keyed_section(const std::string_view* keys, const std::vector<std::int64_t>& totals) {
  Map section;
  section.reserve(totals.size());
  for (std::size_t i = 0; i < totals.size(); ++i) section.push_back({keys[i], Value(totals[i])});
  return section;
}

}  // namespace

Map keyed_tally(const Table& table, const Answers& answers, const std::string_view* keys, std::size_t count) {
  return keyed_section(keys, tally_not_blank(table, answers, named_targets(table, keys, count), count));
}

KeptKey kept_keyed(const Table& table, const std::string_view* keys, std::size_t count) {
  return KeptKey(table, named_targets(table, keys, count), is_not_blank);
}

Map keyed_tally(const KeptKey& key, const Answers& answers, const std::string_view* keys, std::size_t count) {
  std::vector<std::int64_t> totals(count, 0);
  key.tally(answers, totals);
  return keyed_section(keys, totals);
}

std::vector<TallyTarget> column_targets(const Table& table, std::vector<std::string_view>& names) {
  const auto& columns = table.columns();
  FirstIndex<std::string_view> slots(columns.size());
  std::vector<TallyTarget> targets;
  targets.reserve(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string_view name = columns[i].name;
    std::optional<std::size_t> total;
    if (name != index_column) {
      const auto [slot, added] = slots.try_add(name, names.size());
      if (added) names.push_back(name);
      total = slot;
    }
    targets.push_back({name, i, total});
  }
  return targets;
}

}  // namespace mind
