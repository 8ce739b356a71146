// The reliability of a scale and the analysis of its items, from its sufficient statistics alone,
// as R psych's alpha() computes them from the raw item matrix.
//
// Items that every client scored alike carry no information on how clients differ; as psych does,
// they are left out of alpha, its interval, G6 and the average correlation (k' below is the number
// of items that vary), and are still counted in the total's mean and sd.
#pragma once

#include "psychometrics/sums.hpp"

#include <optional>
#include <string>
#include <vector>

namespace psychometrics {

// Where an item is said to hurt its scale. Corrected item-total correlations under .20 are the
// common mark of a weak item; under .10, near zero or negative, the item rather measures something
// else or runs the other way. An alpha that rises by more than .01 without the item says the same
// from the other side; smaller rises are within the noise of most cohorts.
inline constexpr double miskeyed_r_drop = 0.10;
inline constexpr double weak_r_drop = 0.20;
inline constexpr double alpha_rise_margin = 0.01;

inline constexpr const char* flag_no_variance = "no variance";
inline constexpr const char* flag_miskeyed = "reverse-keyed or miskeyed?";
inline constexpr const char* flag_weak = "weak: r_drop under .20";
inline constexpr const char* flag_alpha_rises = "alpha rises when dropped";

struct ItemStatistics {
  std::optional<double> mean;              // from one client
  std::optional<double> sd;                // from two
  std::optional<double> r_drop;            // against the sum of the other items; null when that sum does not vary
  std::optional<double> alpha_if_dropped;  // alpha of the other items, when at least two of them vary
  std::string flag;                        // the flags above that apply, joined by "; "; empty: none
};

struct ScaleStatistics {
  std::size_t k = 0;       // items
  std::int64_t n = 0;      // clients
  std::optional<double> mean;  // of the total (the sum of the item scores), from one client
  std::optional<double> sd;    // of the total, from two
  // Null for a scale with fewer than two varying items, or whose total does not vary.
  std::optional<double> alpha;       // Cronbach's raw alpha
  std::optional<double> alpha_low;   // Feldt's 95 % interval
  std::optional<double> alpha_high;
  std::optional<double> g6;          // Guttman's lambda 6 from squared multiple correlations
  std::optional<double> average_r;   // the mean correlation between the varying items
  std::optional<double> sem;         // sd × √(1 − alpha)
  std::vector<ItemStatistics> items;
};

ScaleStatistics reliability(const ScaleSums& sums);

// Feldt's interval of alpha at the given confidence, for n clients and k varying items.
struct Interval {
  double low;
  double high;
};
Interval feldt_interval(double alpha, std::int64_t n, std::size_t k, double confidence = 0.95);

}  // namespace psychometrics
