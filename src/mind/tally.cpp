#include "mind/tally.hpp"

#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"

namespace mind {

bool is_not_blank(const Cell& cell) noexcept { return !cell.is_missing() && !cell.is_text(""); }

bool is_method_code(const Cell& cell) noexcept { return method_of(cell) >= 0; }

namespace {

// What a tally meets at the cell of one fed column: -1 when the cell does not count, else the
// method (0 to 3) whose points go to the column's total; the failures it meets are thrown.
// Inlined, so that a tally that streams nine tenths of a large database's cells calls nothing.
template <class Row>
[[gnu::always_inline]] inline int method_at(const FedColumn& fed, const Row& cells, CellTest counts) {
  if (!fed.column) fail(MissingKey{Value(fed.name)});
  const Cell cell = cells[*fed.column];
  if (!counts(cell)) return -1;
  if (!fed.total) fail(MissingKey{Value(fed.name)});
  const int method = method_of(cell);
  if (method < 0) fail(MissingKey{Value::from_cell(cell)});
  return method;
}

}  // namespace

std::vector<FedColumn> columns_by_name(const Table& table, std::span<const std::string_view> names) {
  std::vector<FedColumn> columns;
  columns.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) columns.push_back({names[i], table.find(names[i]), i});
  return columns;
}

std::vector<FedColumn> column_per_total(const Table& table, std::vector<std::string_view>& names) {
  const auto& columns = table.columns();
  FirstIndex<std::string_view> slots(columns.size());
  std::vector<FedColumn> fed;
  fed.reserve(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string_view name = columns[i].name;
    std::optional<std::size_t> total;
    if (name != index_column) {
      const auto [slot, added] = slots.try_add(name, names.size());
      if (added) names.push_back(name);
      total = slot;
    }
    fed.push_back({name, i, total});
  }
  return fed;
}

// A tally never reads past the first cell it fails on, so neither does the reduction.
ReducedKey::ReducedKey(const Table& table, const std::vector<FedColumn>& columns, CellTest counts) {
  row_ends_.reserve(table.row_count());
  for (std::size_t row = 0; row < table.row_count(); ++row) {
    const auto cells = table.row_view(row);
    for (const FedColumn& fed : columns) {
      try {
        const int method = method_at(fed, cells, counts);
        if (method >= 0) counted_.push_back({static_cast<std::uint32_t>(*fed.total), static_cast<std::int8_t>(method)});
      } catch (Failure& failure) {
        counted_.push_back({0, Counted::fails});
        failure_.emplace(std::move(failure));
        row_ends_.push_back(counted_.size());
        return;
      }
    }
    row_ends_.push_back(counted_.size());
  }
}

// The same steps as a tally over the cells, in the same order: the row's answer, then each cell.
void ReducedKey::tally(const Answers& answers, std::span<std::int64_t> totals) const {
  std::size_t first = 0;
  for (std::size_t row = 0; row < row_ends_.size(); ++row) {
    const Answer& answer = answers.at(row);
    for (std::size_t i = first; i < row_ends_[row]; ++i) {
      const Counted counted = counted_[i];
      if (counted.method == Counted::fails) throw *failure_;
      totals[counted.total] += method_points(counted.method, Answers::strict_entry(answer, row));
    }
    first = row_ends_[row];
  }
}

PerColumnKey::PerColumnKey(std::vector<std::string> column_names)
    : header_(std::make_unique<Table>(std::move(column_names))), fed_(column_per_total(*header_, names_)), slots_(names_.size()) {
  for (std::size_t i = 0; i < names_.size(); ++i) slots_.try_add(names_[i], i);
}

PerColumnKey::PerColumnKey(const Table& table) : PerColumnKey(table.column_names()) { rows_.emplace(table, fed_, is_method_code); }

std::optional<std::size_t> PerColumnKey::slot(const Cell& name) const {
  if (name.kind() != Kind::Text) return std::nullopt;
  return slots_.find(name.bytes());
}

void StreamedTally::start(std::vector<std::string> column_names) {
  const PerColumnKey& key = key_.emplace(std::move(column_names));
  totals_.totals.assign(key.names().size(), 0);
  totals_.failure.reset();
}

// Method codes are texts, so reading a row as stored or with its numbers as reals counts alike.
void StreamedTally::take_row(const Cell* cells) {
  const std::size_t row = rows_++;
  if (totals_.failure) return;
  try {
    const Answer& answer = answers_.at(row);
    for (const FedColumn& fed : key_->columns()) {
      const int method = method_at(fed, cells, is_method_code);
      if (method >= 0) totals_.totals[*fed.total] += method_points(method, Answers::strict_entry(answer, row));
    }
  } catch (Failure& failure) {
    totals_.failure.emplace(std::move(failure));
  }
}

}  // namespace mind
