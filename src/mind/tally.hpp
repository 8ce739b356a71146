// The scoring loop that several sections share: row i of a scoring key pairs with answer i, and
// each cell of a counted column names the method that turns that answer into points for a total.
//
// The tally layer, for a newcomer:
// - FedColumn: one column of a key and the total it feeds.
// - ReducedKey: a key's rows reduced once to the cells that count and their methods, so that the
//   tally of a client's answers reads no cell. Emotional intelligence and team roles score so.
// - PerColumnKey: a key whose every column but "Idx" is a total of its own (the traits of "QTM",
//   the skills of "CTD"): the totals' names, the column feeding each, and its rows reduced when
//   they are kept for many clients.
// - StreamedTally: the tally of a PerColumnKey for one client as its rows go by while it is read.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/first_index.hpp"
#include "mind/table.hpp"
#include "mind/value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mind {

// One column that a tally reads: where it stands in the table (none: KeyError when first read)
// and which total it feeds (none: KeyError when a cell of it counts).
struct FedColumn {
  std::string_view name;
  std::optional<std::size_t> column;
  std::optional<std::size_t> total;
};

// Emotional intelligence and team roles: present and not the empty text. Anything else counts,
// so a cell that is not a method code fails the lookup.
bool is_not_blank(const Cell& cell) noexcept;

// Traits and competences: present and one of the method codes. Anything else is skipped silently.
bool is_method_code(const Cell& cell) noexcept;

// Which cells of a scoring key count. A cell that counts goes to the strict method lookup.
using CellTest = bool (*)(const Cell&);

// Fixed keys read by name: column i feeds total i.
std::vector<FedColumn> columns_by_name(const Table& table, std::span<const std::string_view> names);

// Every column of the table feeds a total, each distinct name but "Idx" a total of its own, in the
// order the names first stand. `names` receives the names of the totals.
std::vector<FedColumn> column_per_total(const Table& table, std::vector<std::string_view>& names);

class ReducedKey {
 public:
  ReducedKey(const Table& table, const std::vector<FedColumn>& columns, CellTest counts);

  // Adds the points of every row to `totals`, indexed as the columns' `total`; fails where a tally
  // over the table's cells would first fail.
  void tally(const Answers& answers, std::span<std::int64_t> totals) const;

  // A cell that counts: the total it feeds and its method (0 to 3), or `fails` for the cell where
  // the tally fails, which is the last one kept.
  struct Counted {
    static constexpr std::int8_t fails = -1;
    std::uint32_t total;
    std::int8_t method;
  };
  std::size_t row_count() const noexcept { return row_ends_.size(); }
  // The counted cells of one row, in column order: what answer `row` gives each total.
  std::span<const Counted> row(std::size_t row) const noexcept {
    const std::size_t first = row == 0 ? 0 : row_ends_[row - 1];
    return {counted_.data() + first, row_ends_[row] - first};
  }
  // The failure met at the cell marked `fails`.
  const std::optional<Failure>& failure() const noexcept { return failure_; }

 private:
  std::vector<Counted> counted_;       // row by row
  std::vector<std::size_t> row_ends_;  // where each row's cells end in counted_; none past the failing row
  std::optional<Failure> failure_;
};

class PerColumnKey {
 public:
  // The columns alone: their rows are tallied as they are read (StreamedTally) or not at all.
  explicit PerColumnKey(std::vector<std::string> column_names);
  // The columns and the rows reduced, for the tallies of many clients.
  explicit PerColumnKey(const Table& table);

  // The names of the totals, in the order the names first stand.
  const std::vector<std::string_view>& names() const noexcept { return names_; }
  const std::vector<FedColumn>& columns() const noexcept { return fed_; }
  // The total a hierarchy skill has: a text naming a column of the key, case included. A number or
  // a missing cell never has one.
  std::optional<std::size_t> slot(const Cell& name) const;
  // The rows reduced, when they were kept.
  const ReducedKey* rows() const noexcept { return rows_ ? &*rows_ : nullptr; }

 private:
  std::unique_ptr<Table> header_;  // held apart, so the names that columns point to never move
  std::vector<std::string_view> names_;
  std::vector<FedColumn> fed_;
  FirstIndex<std::string_view> slots_;
  std::optional<ReducedKey> rows_;
};

// The totals of a PerColumnKey for one client, or the failure their tally met.
// The run meets that failure only at the key's own section, after every failure to read.
struct KeyTotals {
  std::vector<std::int64_t> totals;
  std::optional<Failure> failure;
};

// Tallies a key as it is read, with is_method_code: its rows are never kept, and such keys hold
// nine tenths of a large database's cells. The totals and the first failure are those of a
// tally over the whole table.
class StreamedTally final : public RowSink {
 public:
  StreamedTally(const Answers& answers, KeyTotals& totals) noexcept : answers_(answers), totals_(totals) {}

  void start(std::vector<std::string> column_names) override;
  void take_row(const Cell* cells) override;
  // The key's columns, once its read started.
  std::optional<PerColumnKey>& key() noexcept { return key_; }

 private:
  const Answers& answers_;
  KeyTotals& totals_;
  std::optional<PerColumnKey> key_;
  std::size_t rows_ = 0;
};

}  // namespace mind
