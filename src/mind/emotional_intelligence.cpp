// Emotional intelligence: five category totals from the scoring key "EMQ".
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"
#include "mind/tally.hpp"

namespace mind {

Map emotional_intelligence(const Table& emq, const Answers& answers) {
  return keyed_tally(emq, answers, emotional_intelligence_categories.data(), emotional_intelligence_categories.size());
}

KeptKey kept_emotional_intelligence(const Table& emq) {
  return kept_keyed(emq, emotional_intelligence_categories.data(), emotional_intelligence_categories.size());
}

Map emotional_intelligence(const KeptKey& emq, const Answers& answers) {
  return keyed_tally(emq, answers, emotional_intelligence_categories.data(), emotional_intelligence_categories.size());
}

}  // namespace mind
