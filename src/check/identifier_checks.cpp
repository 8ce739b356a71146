// Identifiers: every entry of the report looks its title up in "IDs" and takes the first row's "Geo_Id".
#include "check/checks.hpp"
#include "check/describe.hpp"
#include "mind/cell_key.hpp"
#include "mind/identifiers.hpp"
#include "mind/tally.hpp"

#include <unordered_set>

namespace check {

namespace {

using mind::Table;

bool usable_columns(const Table& ids, Problems& problems) {
  bool usable = true;
  for (const std::string_view column : {mind::title_column, mind::identifier_column}) {
    if (ids.find(column)) continue;
    problems.warning(in_column(mind::IDs, column),
                     "no such column: every trait, space, aspect and skill would carry null as its identifier");
    usable = false;
  }
  return usable;
}

std::vector<Titled> traits_of(const Table& qtm) {
  std::vector<std::string_view> names;
  mind::column_per_total(qtm, names);
  std::vector<Titled> traits;
  traits.reserve(names.size());
  for (const std::string_view name : names) {
    traits.push_back({"trait", mind::Cell::text(name), in_column(mind::QTM, name)});
  }
  return traits;
}

class TitleCheck {
 public:
  TitleCheck(const Table& ids, Problems& problems) : ids_(ids), identifiers_(ids), problems_(problems) {}

  void check(const Titled& entry) {
    const auto rows = ids_.rows_where(mind::title_column, entry.title);
    const std::string what = std::string(entry.kind) + " " + shown(entry.title);
    if (rows.empty()) {
      problems_.warning(entry.place, what + " has no row in IDs with that title: its report entry would carry null");
      return;
    }
    if (identifiers_.of(entry.title).is_missing()) {
      problems_.warning(entry.place, what + " has a NULL \"Geo_Id\" in IDs row " + row_number(rows.front()) +
                                         ": its report entry would carry null");
    }
    if (rows.size() > 1 && warned_.insert(mind::CellKey::of(entry.title)).second) {
      problems_.warning(in_cell(mind::IDs, rows[1], mind::title_column),
                        "the title of " + what + " is here again, after row " + row_number(rows.front()) +
                            ": scoring takes the identifier of the first");
    }
  }

 private:
  const Table& ids_;
  const mind::Identifiers identifiers_;
  Problems& problems_;
  std::unordered_set<mind::CellKey, mind::CellKeyHash> warned_;
};

}  // namespace

void check_identifiers(const LoadedTables& tables, const std::vector<Titled>& entries, Problems& problems) {
  const Table* ids = tables[mind::IDs];
  if (ids == nullptr || !usable_columns(*ids, problems)) return;
  TitleCheck titles(*ids, problems);
  if (const Table* qtm = tables[mind::QTM]) {
    for (const Titled& trait : traits_of(*qtm)) titles.check(trait);
  }
  for (const Titled& entry : entries) titles.check(entry);
}

}  // namespace check
