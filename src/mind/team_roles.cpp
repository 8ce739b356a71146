// Team roles: nine role totals from the scoring key "TRS", keyed by role code in catalogue order.
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"
#include "mind/tally.hpp"

namespace mind {

Map team_roles(const Table& trs, const Answers& answers) { return keyed_tally(trs, answers, role_codes.data(), role_codes.size()); }

KeptKey kept_team_roles(const Table& trs) { return kept_keyed(trs, role_codes.data(), role_codes.size()); }

Map team_roles(const KeptKey& trs, const Answers& answers) { return keyed_tally(trs, answers, role_codes.data(), role_codes.size()); }

}  // namespace mind
