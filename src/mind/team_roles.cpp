// Team roles: nine role totals from the scoring key "TRS", keyed by role code in catalogue order.
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"
#include "mind/tally.hpp"

namespace mind {

Map team_roles(const Table& trs, const Answers& answers) { return keyed_tally(trs, answers, role_codes.data(), role_codes.size()); }

}  // namespace mind
