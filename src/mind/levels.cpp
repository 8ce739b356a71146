#include "mind/levels.hpp"

#include "mind/failure.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mind {

namespace {

template <class Number>
Level level_in(const Bands& bands, Number value) noexcept {
  Level level = bands[0].level;
  for (const Band& band : bands) {
    if (value >= band.from) level = band.level;
  }
  return level;
}

// Divide first, then scale: score * 100 / max can differ in the last bit and cross a threshold.
double percentage_of(std::int64_t score, double max_score) noexcept { return (static_cast<double>(score) / max_score) * 100; }

Rating rated(const Bands& bands, std::int64_t score, int max_score) noexcept {
  const double percentage = percentage_of(score, max_score);
  return {level_in(bands, percentage), percentage};
}

}  // namespace

std::string_view level_name(Level level) noexcept {
  static constexpr std::string_view names[] = {
      "unbalanced",   "rebalanced",      "balanced", "Development Priority", "Needs Attention",
      "Strong Skill", "Beginner", "Intermediate",    "Advanced",
  };
  return names[static_cast<std::size_t>(level)];
}

Level determine_trait_level(std::int64_t score) noexcept { return level_in(trait_bands, score); }

Level determine_skill_level(std::int64_t score) noexcept { return level_in(skill_bands, score); }

int aspect_maximum(std::size_t num_skills) noexcept { return num_skills == 3 ? aspect_maximum_of_three : aspect_maximum_otherwise; }

std::optional<int> space_maximum(std::size_t num_aspects) noexcept {
  if (num_aspects < fewest_aspects || num_aspects >= fewest_aspects + space_maxima.size()) return std::nullopt;
  return space_maxima[num_aspects - fewest_aspects];
}

Rating determine_aspect_level(std::int64_t score, std::size_t num_skills) noexcept {
  return rated(aspect_bands, score, aspect_maximum(num_skills));
}

Rating determine_space_level(std::int64_t score, std::size_t num_aspects) {
  const std::optional<int> maximum = space_maximum(num_aspects);
  if (!maximum) fail(MissingKey{Value(static_cast<std::int64_t>(num_aspects))});
  return rated(space_bands, score, *maximum);
}

double round2(double value) noexcept {
  // A value clearly to one side of a rounding boundary rounds as its product with 100 does, error of
  // the product included, and the whole number of hundredths over 100 is then the nearest double.
  const double hundredths = value * 100;
  if (std::fabs(hundredths) < 0x1p52) {
    const double past_boundary = std::fabs(hundredths - std::floor(hundredths) - 0.5);
    if (past_boundary > std::fabs(hundredths) * 0x1p-50) return std::nearbyint(hundredths) / 100;
  }
  // Near a boundary, and for huge values and NaN: glibc prints the exact binary value rounded
  // half-to-even, and strtod returns the nearest double.
  char text[400];
  std::snprintf(text, sizeof text, "%.2f", value);
  return std::strtod(text, nullptr);
}

}  // namespace mind
