// The report sections, each computed from its own tables and the answers alone.
#pragma once

#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/hierarchy.hpp"
#include "mind/identifiers.hpp"
#include "mind/table.hpp"
#include "mind/tally.hpp"
#include "mind/value.hpp"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace mind {

// The two diagnostic lines of one personality trait, as far as scoring got before any failure:
// the "Idx" cells of its questions, then the positions of the answers it kept.
struct TraitLines {
  std::vector<Value> question_numbers;
  bool answers_kept = false;
  std::vector<std::size_t> kept;
};

Map personality_type(const Table& prs, const Answers& answers, std::vector<TraitLines>& lines);

// The rows of each personality trait found once for many clients, or the failure of finding them.
class KeptPersonality {
 public:
  explicit KeptPersonality(const Table& prs);

 private:
  friend Map personality_type(const KeptPersonality& prs, const Answers& answers, std::vector<TraitLines>& lines);
  struct Trait {
    std::optional<Failure> failure;
    std::vector<Value> question_numbers;
    std::vector<std::size_t> asked;
  };
  static Trait trait_of(const Table& prs, std::string_view name);
  std::array<Trait, 4> traits_;
};

Map personality_type(const KeptPersonality& prs, const Answers& answers, std::vector<TraitLines>& lines);
Map learning_style(const Table& vak, const Answers& answers);

// The methods of the five columns of "VAK" (-1: none), row by row.
using StyleMethods = std::array<int, 5>;

// "VAK" read once for many clients: each row's methods, and the failure of the row past them.
class KeptStyle {
 public:
  explicit KeptStyle(const Table& vak);
  // The methods of the row that answer p pairs with, or the failure reading that row meets.
  const StyleMethods& methods_at(std::size_t p) const;

 private:
  std::vector<StyleMethods> rows_;
  std::optional<Failure> failure_;
};

Map learning_style(const KeptStyle& vak, const Answers& answers);
Map emotional_intelligence(const Table& emq, const Answers& answers);
Map team_roles(const Table& trs, const Answers& answers);
// The same two sections from keys kept for many clients.
KeptKey kept_emotional_intelligence(const Table& emq);
Map emotional_intelligence(const KeptKey& emq, const Answers& answers);
KeptKey kept_team_roles(const Table& trs);
Map team_roles(const KeptKey& trs, const Answers& answers);
List traits(const KeyTally& qtm, const Identifiers& ids);
List competences(const KeyTally& ctd, const Table& cmf, const Identifiers& ids);
List competences(const KeyTally& ctd, const std::vector<SpaceNode>& hierarchy, const Identifiers& ids);

}  // namespace mind
