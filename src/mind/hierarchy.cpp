#include "mind/hierarchy.hpp"

#include "mind/cell_key.hpp"
#include "mind/failure.hpp"
#include "mind/first_index.hpp"

#include <algorithm>
#include <string>

namespace mind {

namespace {

void require_three_cells(std::size_t width) {
  if (width > 3) fail(BadShape{"too many values to unpack (expected 3)"});
  if (width < 3) {
    fail(BadShape{"need more than " + std::to_string(width) + " value" + (width == 1 ? "" : "s") + " to unpack"});
  }
}

using NodeIndex = FirstIndex<CellKey, CellKeyHash>;

// Index of the node named `name` in `nodes`, appending one when it is new.
template <class Node>
Node& node_for(std::vector<Node>& nodes, NodeIndex& index, const Cell& name) {
  const auto [slot, added] = index.try_add(CellKey::of(name), nodes.size());
  if (added) nodes.push_back(Node{name, {}});
  return nodes[slot];
}

}  // namespace

std::vector<SpaceNode> hierarchical_mapping(const Table& cmf) {
  std::vector<SpaceNode> spaces;
  if (cmf.row_count() == 0) return spaces;
  require_three_cells(cmf.columns().size());
  NodeIndex space_index;
  std::vector<NodeIndex> aspect_index;
  for (std::size_t row = 0; row < cmf.row_count(); ++row) {
    SpaceNode& space = node_for(spaces, space_index, cmf.row_cell(row, 0));
    aspect_index.resize(spaces.size());
    const auto s = static_cast<std::size_t>(&space - spaces.data());
    node_for(space.aspects, aspect_index[s], cmf.row_cell(row, 1)).skills.push_back(cmf.row_cell(row, 2));
  }
  std::erase_if(spaces, [](const SpaceNode& space) { return space.name.is_text("Space"); });
  return spaces;
}

}  // namespace mind
