// The scoring loop that several sections share: row i of a scoring key pairs with answer i, and
// each cell of a counted column names the method that turns that answer into points.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/table.hpp"
#include "mind/value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mind {

// One column that a tally reads: where it stands in the table (none: KeyError when first read)
// and which total it feeds (none: KeyError when a cell of it counts).
struct TallyTarget {
  std::string_view name;
  std::optional<std::size_t> column;
  std::optional<std::size_t> total;
};

// Emotional intelligence and team roles: present and not the empty text. Anything else counts,
// so a cell that is not a method code fails the lookup.
bool is_not_blank(const Cell& cell) noexcept;

// Traits and competences: present and one of the method codes. Anything else is skipped silently.
bool is_method_code(const Cell& cell) noexcept;

// Fixed keys read by name: target i feeds total i.
std::vector<TallyTarget> named_targets(const Table& table, const std::string_view* names, std::size_t count);

// A section of fixed keys, each the name of the column it tallies, in the keys' order.
Map keyed_tally(const Table& table, const Answers& answers, const std::string_view* keys, std::size_t count);

// What a tally reads of a key's columns: their names, and which total each column feeds.
struct TallyLayout {
  explicit TallyLayout(std::vector<std::string> column_names);

  std::unique_ptr<Table> columns;  // held apart, so the names that targets point to never move
  std::vector<std::string_view> names;
  std::vector<TallyTarget> targets;
};

// Which cells of a scoring key count. A cell that counts goes to the strict method lookup.
using CellTest = bool (*)(const Cell&);

// A scoring key kept for the tallies of many clients, each row reduced once to the cells that
// count and their methods, so that a client's tally reads no cell.
class KeptKey {
 public:
  KeptKey(const Table& table, std::vector<TallyTarget> targets, CellTest counts);

  // Adds the points of every row to `totals`, indexed as the targets' `total`; fails where a
  // tally over the table's cells would first fail.
  void tally(const Answers& answers, std::vector<std::int64_t>& totals) const;

 private:
  enum Method : std::int8_t { NoColumn = -2, NotACode = -1 };  // 0 to 3: the method
  struct Counted {
    std::uint32_t target;
    std::int8_t method;
    std::uint32_t code = 0;  // with NotACode: the cell, in codes_
  };
  [[noreturn]] void fail_at(const Counted& counted) const;

  std::vector<TallyTarget> targets_;
  std::vector<Counted> counted_;       // row by row, in the targets' order
  std::vector<std::size_t> row_ends_;  // where each row's cells end in counted_
  std::vector<Value> codes_;           // the cells that count but name no method
};

// A key of fixed keys kept for keyed_tally, and the section it gives for one client's answers.
KeptKey kept_keyed(const Table& table, const std::string_view* keys, std::size_t count);
Map keyed_tally(const KeptKey& key, const Answers& answers, const std::string_view* keys, std::size_t count);

// A key whose columns are all tallied (see KeyTally), kept for many clients.
class TallyKey {
 public:
  explicit TallyKey(const Table& table);

 private:
  friend class KeyTally;
  TallyLayout layout_;
  KeptKey rows_;
};

// A scoring key whose every column but "Idx" is a trait or a skill, tallied with is_method_code
// while it is read: its rows are never kept, and such keys hold nine tenths of a large database's
// cells. The totals and the first failure are those of a tally over the whole table; a failure is
// kept until the section asks for the totals, so failures still come in the order of the sections,
// after every failure to read.
class KeyTally final : public RowSink {
 public:
  explicit KeyTally(const Answers& answers) noexcept : answers_(&answers) {}
  KeyTally(const KeyTally&) = delete;  // the layout may be its own
  KeyTally& operator=(const KeyTally&) = delete;

  void start(std::vector<std::string> column_names) override;
  void take_row(const Cell* cells) override;
  // A kept key, tallied as its read would have been.
  void take_key(const TallyKey& key);

  // The key's columns, without rows.
  const Table& columns() const noexcept { return *layout_->columns; }
  // The names of the totals, in the order the names first stand.
  const std::vector<std::string_view>& names() const noexcept { return layout_->names; }
  // The totals, or the tally's first failure.
  const std::vector<std::int64_t>& totals() const;

 private:
  void begin(const TallyLayout& layout);

  const Answers* answers_;
  std::optional<TallyLayout> own_;  // a key being read
  const TallyLayout* layout_ = nullptr;
  std::vector<std::int64_t> totals_;
  std::size_t rows_ = 0;
  std::optional<Failure> failure_;
};

// Every column of the table is a target, each distinct name but "Idx" with a total of its own,
// in the order the names first stand. `names` receives the names of the totals.
std::vector<TallyTarget> column_targets(const Table& table, std::vector<std::string_view>& names);

}  // namespace mind
