// Emotional intelligence: five category totals from the scoring key "EMQ".
#include "mind/sections.hpp"
#include "mind/tally.hpp"

#include <array>

namespace mind {

namespace {

constexpr std::array<std::string_view, 5> categories = {"SelfAwarness", "ManagingEmotions", "MotivatingOneself", "Empathy",
                                                        "SocialSkills"};

}  // namespace

Map emotional_intelligence(const Table& emq, const Answers& answers) {
  return keyed_tally(emq, answers, categories.data(), categories.size());
}

}  // namespace mind
