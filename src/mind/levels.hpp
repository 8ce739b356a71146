// The level rules for traits, skills, aspects and spaces, and the two-decimal rounding of the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mind {

struct Rating {
  std::string_view level;
  double percentage;
};

std::string_view determine_trait_level(std::int64_t score) noexcept;
std::string_view determine_skill_level(std::int64_t score) noexcept;
Rating determine_aspect_level(std::int64_t score, std::size_t num_skills) noexcept;
// KeyError carrying the count when a space has other than 3, 4 or 5 aspects.
Rating determine_space_level(std::int64_t score, std::size_t num_aspects);

// The exact binary value rounded to the nearest multiple of 0.01, ties to even, as the nearest double.
double round2(double value) noexcept;

}  // namespace mind
