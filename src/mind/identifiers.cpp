#include "mind/identifiers.hpp"

#include "mind/scoring_keys.hpp"

namespace mind {

Identifiers::Identifiers(const Table& ids) {
  const auto title = ids.find(title_column);
  const auto geo_id = ids.find(identifier_column);
  if (!title || !geo_id) return;
  ids_ = &ids;
  geo_id_ = *geo_id;
  first_row_ = FirstIndex<CellKey, CellKeyHash>(ids.row_count());
  for (std::size_t row = 0; row < ids.row_count(); ++row) {
    const Cell t = ids.at(row, *title);
    if (!t.is_missing()) first_row_.try_add(CellKey::of(t), row);
  }
}

Cell Identifiers::of(const Cell& name) const {
  if (ids_ == nullptr || name.is_missing()) return Cell();
  const auto row = first_row_.find(CellKey::of(name));
  return row ? ids_->at(*row, geo_id_) : Cell();
}

}  // namespace mind
