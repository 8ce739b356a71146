// Norms: how a client's total on a scale compares with a norm group's totals on it.
//
// - Percentile rank: the share of the group scoring lower, the group's ties at the score counted
//   half (mid-rank), in percent. It is reported within 1 to 99, as norm tables give it: a group of
//   finite size cannot place a score beyond its own extremes, so a score below every score of the
//   group reads 1 and one above every score 99, and `range` says that the score lies outside the
//   group's range (a report writes "< 1" or "> 99").
// - T-score: 50 + 10 z, z = (score − mean) / sd, with the group's mean and sd (n − 1). It is linear
//   and not clamped: far from the group it extrapolates, which `range` marks.
// - Sten (1 to 10) and stanine (1 to 9): bands of half an sd of z, the sten's split at the mean,
//   the stanine's centred on it (stanine 5: −0.25 ≤ z < 0.25); beyond the outer bands they stay at
//   1 and at 10 or 9.
// A group whose sd is 0 or unknown (fewer than two clients) gives no T-score, sten or stanine.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace psychometrics {

// A scale's totals in a norm group, gathered one client at a time; parts merge exactly.
class TotalCounts {
 public:
  void add(std::int64_t total) { ++counts_[total]; }
  void merge(const TotalCounts& other);
  const std::map<std::int64_t, std::int64_t>& counts() const noexcept { return counts_; }

 private:
  std::map<std::int64_t, std::int64_t> counts_;
};

struct ScaleNorm {
  std::string scale;
  std::int64_t size = 0;
  double mean = 0;
  std::optional<double> sd;  // from two clients
  std::vector<std::pair<std::int64_t, std::int64_t>> counts;  // score → clients, by score, each above 0
};

// The norm of a scale whose group gave these totals (at least one).
ScaleNorm scale_norm(std::string scale, const TotalCounts& totals);

struct NormGroup {
  std::string name;
  std::string date;  // ISO 8601, YYYY-MM-DD
  std::vector<ScaleNorm> scales;
};

enum class Range { inside, below, above };

struct NormedScore {
  double percentile;  // 1 to 99
  Range range;
  std::optional<double> t;
  std::optional<int> sten;
  std::optional<int> stanine;
};

NormedScore normed_score(const ScaleNorm& norm, std::int64_t score);

}  // namespace psychometrics
