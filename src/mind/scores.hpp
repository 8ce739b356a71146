// What one client's answers score, section by section, before any report is built: numbers and
// level choices only. The names, identifiers and order they are reported under belong to the
// prepared keys (Keys), which the Scores of every client share.
#pragma once

#include "mind/levels.hpp"
#include "mind/tally.hpp"

#include <array>
#include <cstdint>
#include <vector>

namespace mind {

// One personality trait pair, "EI" say: the answers kept that lean to each pole, their shares as
// reported (two decimals), and the pole whose letter the title takes.
struct PolePair {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  double first_share = 0;
  double second_share = 0;
  bool first_wins = false;
};

enum class Style : std::uint8_t { Visual, Auditory, Kinesthetic };

struct StyleScores {
  std::int64_t visual = 0;
  std::int64_t auditory = 0;
  std::int64_t kinesthetic = 0;
  Style type = Style::Kinesthetic;
};

// An aspect or a space: its score, level and percentage as reported (two decimals).
struct Rated {
  std::int64_t score;
  Level level;
  double percentage;
};

// How far the personality section wrote its diagnostic lines: the line of question numbers of each
// trait below `questions`, the line of answers kept of each below `answers`, trait i keeping the
// first kept[i] of its asked positions. Also set when a later step failed.
struct DiagnosticLines {
  std::uint8_t questions = 0;
  std::uint8_t answers = 0;
  std::array<std::uint32_t, 4> kept{};
};

struct Scores {
  std::array<PolePair, 4> personality;  // in the order of personality_traits
  StyleScores style;
  std::array<std::int64_t, 5> emotional_intelligence{};  // in the order of emotional_intelligence_categories
  std::array<std::int64_t, 9> roles{};                   // in the order of role_codes
  KeyTotals traits;                                       // by trait, as Keys::traits names them
  std::vector<Level> trait_levels;
  KeyTotals skills;  // by skill slot, as Keys::skills names them
  std::vector<Level> skill_levels;
  std::vector<Rated> aspects;  // every aspect of every space, in the order of Keys::competences
  std::vector<Rated> spaces;
  DiagnosticLines lines;
};

}  // namespace mind
