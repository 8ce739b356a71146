#include "mind/identifiers.hpp"

#include "mind/scoring_keys.hpp"

namespace mind {

Identifiers::Identifiers(const Table& ids) {
  const auto title = ids.find(title_column);
  const auto geo_id = ids.find(identifier_column);
  if (!title || !geo_id) return;
  geo_ids_ = &ids.columns()[*geo_id];
  const auto& titles = ids.columns()[*title].cells;
  first_row_.reserve(titles.size());
  for (std::size_t row = 0; row < titles.size(); ++row) {
    if (!titles[row].is_missing()) first_row_.try_emplace(CellKey::of(titles[row]), row);
  }
}

Value Identifiers::of(const Cell& name) const {
  if (geo_ids_ == nullptr || name.is_missing()) return Value();
  const auto found = first_row_.find(CellKey::of(name));
  return found == first_row_.end() ? Value() : Value::from_cell(geo_ids_->cells[found->second]);
}

}  // namespace mind
