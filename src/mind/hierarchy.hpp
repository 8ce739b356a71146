// The competence hierarchy read from "CMF": spaces hold aspects, aspects list skills.
#pragma once

#include "mind/table.hpp"

#include <vector>

namespace mind {

struct AspectNode {
  Cell name;
  std::vector<Cell> skills;  // in row order, repeats kept
};

struct SpaceNode {
  Cell name;
  std::vector<AspectNode> aspects;  // in first-seen order
};

// Spaces in first-seen order. Each row is (space, aspect, skill) by position; every space named
// "Space" is dropped, wherever its rows stand. Cells point into `cmf`, which must outlive the result.
// A row that is not three cells wide fails with the host's unpacking ValueError.
std::vector<SpaceNode> hierarchical_mapping(const Table& cmf);

}  // namespace mind
