#include "mind/levels.hpp"

#include "mind/failure.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mind {

namespace {

// Divide first, then scale: score * 100 / max can differ in the last bit and cross a threshold.
double percentage_of(std::int64_t score, double max_score) noexcept { return (static_cast<double>(score) / max_score) * 100; }

}  // namespace

std::string_view determine_trait_level(std::int64_t score) noexcept {
  if (score > 15) return "balanced";
  if (score >= 10) return "rebalanced";
  return "unbalanced";
}

std::string_view determine_skill_level(std::int64_t score) noexcept {
  if (score >= 30) return "Strong Skill";
  if (score >= 25) return "Needs Attention";
  return "Development Priority";
}

Rating determine_aspect_level(std::int64_t score, std::size_t num_skills) noexcept {
  const double percentage = percentage_of(score, num_skills == 3 ? 36 : 48);
  if (percentage >= 81) return {"Advanced", percentage};
  if (percentage >= 58) return {"Intermediate", percentage};
  return {"Beginner", percentage};
}

Rating determine_space_level(std::int64_t score, std::size_t num_aspects) {
  if (num_aspects < 3 || num_aspects > 5) fail(MissingKey{Value(static_cast<std::int64_t>(num_aspects))});
  constexpr double max_score[] = {108, 144, 180};  // 3, 4 and 5 aspects
  const double percentage = percentage_of(score, max_score[num_aspects - 3]);
  if (percentage >= 72) return {"Advanced", percentage};
  if (percentage >= 54) return {"Intermediate", percentage};
  return {"Beginner", percentage};
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
