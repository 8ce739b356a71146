// Identifiers of traits, spaces, aspects and skills, looked up by title in the table "IDs".
#pragma once

#include "mind/cell_key.hpp"
#include "mind/first_index.hpp"
#include "mind/table.hpp"
#include "mind/value.hpp"

namespace mind {

class Identifiers {
 public:
  explicit Identifiers(const Table& ids);

  // The "Geo_Id" of the first row whose "Title" equals the name. Each entry stands on its own
  // lookup: when it fails (no such column, no such row) the entry carries null rather than
  // another entry's identifier.
  Value of(const Cell& name) const;

 private:
  const Table* ids_ = nullptr;  // null when "IDs" lacks "Title" or "Geo_Id"
  std::size_t geo_id_ = 0;
  FirstIndex<CellKey, CellKeyHash> first_row_;
};

}  // namespace mind
