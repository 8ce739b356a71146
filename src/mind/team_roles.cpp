// Team roles: nine role totals from the scoring key "TRS", keyed by role code in catalogue order.
#include "mind/sections.hpp"
#include "mind/tally.hpp"

#include <array>

namespace mind {

namespace {

// Resource Investigator, Co-ordinator, Plant, Shaper, Monitor Evaluator, Implementer, Teamworker,
// Completer Finisher, Specialist: the report carries only the codes.
constexpr std::array<std::string_view, 9> role_codes = {"RI", "CO", "PL", "SH", "ME", "IMP", "TW", "CF", "SP"};

}  // namespace

Map team_roles(const Table& trs, const Answers& answers) { return keyed_tally(trs, answers, role_codes.data(), role_codes.size()); }

}  // namespace mind
