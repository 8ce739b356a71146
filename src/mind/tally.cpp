#include "mind/tally.hpp"

#include "mind/first_index.hpp"
#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"

namespace mind {

bool is_not_blank(const Cell& cell) noexcept { return !cell.is_missing() && !cell.is_text(""); }

bool is_method_code(const Cell& cell) noexcept { return method_of(cell) >= 0; }

namespace {

// Which cells of a scoring key count. A cell that counts goes to the strict method lookup.
using CellTest = bool (*)(const Cell&);

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

TallyKey::TallyKey(const Table& table) : layout_(names_of(table)) {
  row_ends_.reserve(table.row_count());
  for (std::size_t row = 0; row < table.row_count(); ++row) {
    const auto cells = table.row_view(row);
    for (std::size_t t = 0; t < layout_.targets.size(); ++t) {
      const int method = method_of(cells[*layout_.targets[t].column]);
      if (method >= 0) counted_.push_back({static_cast<std::uint32_t>(t), static_cast<std::uint8_t>(method)});
    }
    row_ends_.push_back(counted_.size());
  }
}

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

// The same steps as tally_row over the rows read, with each cell's test and method known already.
void KeyTally::take_key(const TallyKey& key) {
  begin(key.layout_);
  rows_ = key.row_ends_.size();
  try {
    std::size_t first = 0;
    for (std::size_t row = 0; row < key.row_ends_.size(); ++row) {
      const Answer& answer = answers_->at(row);
      for (std::size_t i = first; i < key.row_ends_[row]; ++i) {
        const TallyTarget& target = layout_->targets[key.counted_[i].target];
        if (!target.total) fail(MissingKey{Value(target.name)});
        totals_[*target.total] += method_points(key.counted_[i].method, Answers::strict_entry(answer, row));
      }
      first = key.row_ends_[row];
    }
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

Map keyed_tally(const Table& table, const Answers& answers, const std::string_view* keys, std::size_t count) {
  const auto totals = tally_not_blank(table, answers, named_targets(table, keys, count), count);
  Map section;
  section.reserve(count);
  for (std::size_t i = 0; i < count; ++i) section.push_back({keys[i], Value(totals[i])});
  return section;
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
