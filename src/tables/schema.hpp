// The shape of a table this package writes: named, nullable columns of a few types, and key/value
// metadata for what holds for every row.
#pragma once

#include "tables/arrow.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tables {

enum class ColumnType : std::uint8_t {
  Int64,
  Float64,
  Bool,
  Utf8,
  Dictionary,  // utf8 values, int32 indices: for texts that repeat from row to row
  Binary,
  Null,        // no values at all, only a length
};

struct ColumnLayout {
  std::string name;
  ColumnType type;
};

using Metadata = std::vector<std::pair<std::string, std::string>>;

struct TableLayout {
  std::vector<ColumnLayout> columns;
  Metadata metadata;  // in this order
};

// The schema of a record batch of `layout`: a struct of one nullable field per column. A name must
// hold no NUL character (std::invalid_argument).
nanoarrow::UniqueSchema make_schema(const TableLayout& layout);

// The pairs of an Arrow metadata blob (NULL: none), in their order.
Metadata read_metadata(const char* metadata);

}  // namespace tables
