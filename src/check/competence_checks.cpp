// The competence hierarchy: its shape, each space's number of aspects, and its skills against "CTD".
#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/cell_key.hpp"
#include "mind/failure.hpp"
#include "mind/hierarchy.hpp"
#include "mind/levels.hpp"
#include "mind/tally.hpp"

#include <unordered_set>

namespace check {

namespace {

using mind::Cell;
using mind::CellKey;
using mind::Table;

enum HierarchyColumn : std::size_t { space_column, aspect_column, skill_column };

using SeenCells = std::unordered_set<CellKey, mind::CellKeyHash>;

// Where a name of the hierarchy first stands, by the hierarchy's own equality of names.
Place first_place(const Table& cmf, HierarchyColumn column, const Cell& name) {
  const CellKey key = CellKey::of(name);
  const std::string& column_name = cmf.columns()[column].name;
  for (std::size_t row = 0; row < cmf.row_count(); ++row) {
    if (CellKey::of(cmf.row_cell(row, column)) == key) return in_cell(mind::CMF, row, column_name);
  }
  return in_column(mind::CMF, column_name);  // every name of the hierarchy came from a row
}

std::optional<std::vector<mind::SpaceNode>> read_hierarchy(const Table& cmf, Problems& problems) {
  try {
    return mind::hierarchical_mapping(cmf);
  } catch (const mind::Failure& failure) {
    const auto* shape = std::get_if<mind::BadShape>(&failure.reason());
    if (shape == nullptr) throw;
    problems.error(in_table(mind::CMF), "rows are " + std::to_string(cmf.columns().size()) +
                                            " cells wide, not 3 (space, aspect, skill): scoring fails on them "
                                            "(ValueError: " + shape->message + ")");
    return std::nullopt;
  }
}

// Percentages of spaces are defined only for the counts of aspects the space level rule knows.
bool has_maximum_score(std::size_t aspects) {
  try {
    mind::determine_space_level(0, aspects);
    return true;
  } catch (const mind::Failure&) {
    return false;
  }
}

void check_aspect_counts(const Table& cmf, const std::vector<mind::SpaceNode>& spaces, Problems& problems) {
  for (const mind::SpaceNode& space : spaces) {
    const std::size_t count = space.aspects.size();
    if (has_maximum_score(count)) continue;
    problems.error(first_place(cmf, space_column, space.name),
                   "space " + shown(space.name) + " has " + std::to_string(count) +
                       (count == 1 ? " aspect" : " aspects") +
                       ", but space levels are defined for 3, 4 or 5: scoring fails on it (KeyError: " +
                       std::to_string(count) + ")");
  }
}

// A listed skill without a column gets no entry yet still counts toward its aspect's maximum score;
// a column that no aspect lists is tallied for nothing.
void check_skills(const Table& cmf, const std::vector<mind::SpaceNode>& spaces, const mind::PerColumnKey& columns,
                  Problems& problems) {
  std::vector<bool> listed(columns.names().size(), false);
  SeenCells warned;
  for (const mind::SpaceNode& space : spaces) {
    for (const mind::AspectNode& aspect : space.aspects) {
      for (const Cell& skill : aspect.skills) {
        if (const auto slot = columns.slot(skill)) {
          listed[*slot] = true;
        } else if (warned.insert(CellKey::of(skill)).second) {
          problems.warning(first_place(cmf, skill_column, skill),
                           "skill " + shown(skill) +
                               " has no column in CTD: it gets no entry, yet its aspect's maximum score counts it");
        }
      }
    }
  }
  for (std::size_t i = 0; i < listed.size(); ++i) {
    if (!listed[i]) {
      problems.warning(in_column(mind::CTD, columns.names()[i]),
                       "no aspect in CMF lists this skill: it is tallied but reported nowhere");
    }
  }
}

// Every space and aspect gets an entry; a skill only when "CTD" totals it.
std::vector<Titled> entries_of(const Table& cmf, const std::vector<mind::SpaceNode>& spaces,
                               const mind::PerColumnKey* columns) {
  std::vector<Titled> entries;
  SeenCells aspects_seen, skills_seen;
  for (const mind::SpaceNode& space : spaces) {
    entries.push_back({"space", space.name, first_place(cmf, space_column, space.name)});
    for (const mind::AspectNode& aspect : space.aspects) {
      if (aspects_seen.insert(CellKey::of(aspect.name)).second) {
        entries.push_back({"aspect", aspect.name, first_place(cmf, aspect_column, aspect.name)});
      }
      for (const Cell& skill : aspect.skills) {
        if (columns != nullptr && columns->slot(skill) && skills_seen.insert(CellKey::of(skill)).second) {
          entries.push_back({"skill", skill, first_place(cmf, skill_column, skill)});
        }
      }
    }
  }
  return entries;
}

}  // namespace

std::vector<Titled> check_competences(const LoadedTables& tables, Problems& problems) {
  const Table* cmf = tables[mind::CMF];
  if (cmf == nullptr) return {};
  const auto spaces = read_hierarchy(*cmf, problems);
  if (!spaces) return {};
  check_aspect_counts(*cmf, *spaces, problems);
  std::optional<mind::PerColumnKey> columns;
  if (const Table* ctd = tables[mind::CTD]) check_skills(*cmf, *spaces, columns.emplace(ctd->column_names()), problems);
  return entries_of(*cmf, *spaces, columns ? &*columns : nullptr);
}

}  // namespace check
