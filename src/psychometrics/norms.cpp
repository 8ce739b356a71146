#include "psychometrics/norms.hpp"

#include "psychometrics/sums.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace psychometrics {

void TotalCounts::merge(const TotalCounts& other) {
  for (const auto& [total, count] : other.counts_) counts_[total] += count;
}

ScaleNorm scale_norm(std::string scale, const TotalCounts& totals) {
  ScaleNorm norm{std::move(scale), 0, 0, std::nullopt, {totals.counts().begin(), totals.counts().end()}};
  if (norm.counts.empty()) throw std::invalid_argument("a norm needs the total of at least one client");
  Wide sum = 0;
  Wide squares = 0;
  for (const auto& [score, count] : norm.counts) {
    norm.size += count;
    sum += Wide{score} * count;
    squares += Wide{score} * score * count;
  }
  const long double n = static_cast<long double>(norm.size);
  norm.mean = static_cast<double>(static_cast<long double>(sum) / n);
  if (norm.size >= 2) {
    norm.sd = static_cast<double>(std::sqrt(static_cast<long double>(norm.size * squares - sum * sum) / (n * (n - 1))));
  }
  return norm;
}

namespace {

int band(double z, double offset, int lowest, int highest) {
  return static_cast<int>(std::clamp(std::floor(2 * z + offset), static_cast<double>(lowest), static_cast<double>(highest)));
}

}  // namespace

NormedScore normed_score(const ScaleNorm& norm, std::int64_t score) {
  std::int64_t below = 0;
  std::int64_t at = 0;
  for (const auto& [group_score, count] : norm.counts) {
    if (group_score < score) below += count;
    if (group_score == score) at = count;
  }
  NormedScore normed{};
  const double rank = 100 * (static_cast<double>(below) + 0.5 * static_cast<double>(at)) / static_cast<double>(norm.size);
  normed.percentile = std::clamp(rank, 1.0, 99.0);
  normed.range = score < norm.counts.front().first ? Range::below
                 : score > norm.counts.back().first ? Range::above
                                                    : Range::inside;
  if (norm.sd && *norm.sd > 0) {
    const double z = (static_cast<double>(score) - norm.mean) / *norm.sd;
    normed.t = 50 + 10 * z;
    normed.sten = band(z, 0, -5, 4) + 6;
    normed.stanine = band(z, 0.5, -4, 4) + 5;
  }
  return normed;
}

}  // namespace psychometrics
