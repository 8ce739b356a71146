// The level rules for traits, skills, aspects and spaces, and the two-decimal rounding of the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mind {

// Every level a rule gives, named in the report by level_name.
enum class Level : std::uint8_t {
  Unbalanced,
  Rebalanced,
  Balanced,
  DevelopmentPriority,
  NeedsAttention,
  StrongSkill,
  Beginner,
  Intermediate,
  Advanced,
};

std::string_view level_name(Level level) noexcept;

// A rule's levels, lowest first, each from the least value it takes: a trait's or a skill's total,
// or an aspect's or a space's percentage of its maximum score. Totals are never negative, so the
// lowest band starts at 0.
struct Band {
  Level level;
  int from;
};
using Bands = std::array<Band, 3>;

inline constexpr Bands trait_bands = {{{Level::Unbalanced, 0}, {Level::Rebalanced, 10}, {Level::Balanced, 16}}};
inline constexpr Bands skill_bands = {{{Level::DevelopmentPriority, 0}, {Level::NeedsAttention, 25}, {Level::StrongSkill, 30}}};
inline constexpr Bands aspect_bands = {{{Level::Beginner, 0}, {Level::Intermediate, 58}, {Level::Advanced, 81}}};
inline constexpr Bands space_bands = {{{Level::Beginner, 0}, {Level::Intermediate, 54}, {Level::Advanced, 72}}};

// The maximum score an aspect's percentage divides by: for three skills, and for any other count.
inline constexpr int aspect_maximum_of_three = 36;
inline constexpr int aspect_maximum_otherwise = 48;
// A space's, by its count of aspects; no other count has one.
inline constexpr std::size_t fewest_aspects = 3;
inline constexpr std::array<int, 3> space_maxima = {108, 144, 180};

struct Rating {
  Level level;
  double percentage;
};

// What an aspect's percentage divides by, for its count of listed skills; a space's, for its count
// of aspects (none: the space cannot be rated).
int aspect_maximum(std::size_t num_skills) noexcept;
std::optional<int> space_maximum(std::size_t num_aspects) noexcept;

Level determine_trait_level(std::int64_t score) noexcept;
Level determine_skill_level(std::int64_t score) noexcept;
Rating determine_aspect_level(std::int64_t score, std::size_t num_skills) noexcept;
// KeyError carrying the count when a space has other than 3, 4 or 5 aspects.
Rating determine_space_level(std::int64_t score, std::size_t num_aspects);

// The exact binary value rounded to the nearest multiple of 0.01, ties to even, as the nearest double.
double round2(double value) noexcept;

}  // namespace mind
