// Emotional intelligence and team roles: the totals of a key whose fixed columns each name one, from
// "EMQ" (five categories) and "TRS" (nine role codes, in catalogue order).
#include "mind/sections.hpp"

#include <algorithm>

namespace mind {

ReducedKey keyed_totals_key(const Table& table, std::span<const std::string_view> names) {
  return ReducedKey(table, columns_by_name(table, names), is_not_blank);
}

void score_keyed_totals(const ReducedKey& key, const Answers& answers, std::span<std::int64_t> totals) {
  std::fill(totals.begin(), totals.end(), 0);
  key.tally(answers, totals);
}

Value report_keyed_totals(std::span<const std::string_view> names, std::span<const std::int64_t> totals) {
  Map section;
  section.reserve(totals.size());
  for (std::size_t i = 0; i < totals.size(); ++i) section.push_back({names[i], Value(totals[i])});
  return Value(std::move(section));
}

}  // namespace mind
