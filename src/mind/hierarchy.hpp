// The competence hierarchy read from "CMF": spaces hold aspects, aspects list skills.
#pragma once

#include "mind/failure.hpp"
#include "mind/table.hpp"

#include <optional>
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

// The hierarchy made once for many clients, or the failure that making it meets every time.
class KeptHierarchy {
 public:
  explicit KeptHierarchy(const Table& cmf);
  // The spaces, or the failure thrown.
  const std::vector<SpaceNode>& spaces() const;

 private:
  std::vector<SpaceNode> spaces_;
  std::optional<Failure> failure_;
};

}  // namespace mind
