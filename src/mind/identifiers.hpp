// Identifiers of traits, spaces, aspects and skills, looked up by title in the table "IDs".
#pragma once

#include "mind/cell_key.hpp"
#include "mind/first_index.hpp"
#include "mind/table.hpp"

namespace mind {

class Identifiers {
 public:
  explicit Identifiers(const Table& ids);

  // The "Geo_Id" cell of the first row whose "Title" equals the name. Each entry stands on its own
  // lookup: when it fails (no such column, no such row) the entry carries a missing cell, reported
  // as null, rather than another entry's identifier. The cell points into the table.
  Cell of(const Cell& name) const;

 private:
  const Table* ids_ = nullptr;  // null when "IDs" lacks "Title" or "Geo_Id"
  std::size_t geo_id_ = 0;
  FirstIndex<CellKey, CellKeyHash> first_row_;
};

}  // namespace mind
