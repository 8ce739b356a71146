#include "psychometrics/reliability.hpp"

#include "psychometrics/distributions.hpp"
#include "psychometrics/flags.hpp"
#include "psychometrics/eigen.hpp"

#include <algorithm>
#include <cmath>

namespace psychometrics {

namespace {

using Real = long double;

// The varying items of a scale and their centred cross-products, n (n − 1) times their covariances,
// exact; every statistic below is a ratio in which that factor cancels.
class Varying {
 public:
  explicit Varying(const ScaleSums& sums) {
    for (std::size_t i = 0; i < sums.items(); ++i) {
      if (sums.centered(i, i) > 0) items_.push_back(i);
    }
    const std::size_t k = items_.size();
    cells_.resize(k * k);
    row_sums_.resize(k);
    for (std::size_t a = 0; a < k; ++a) {
      for (std::size_t b = 0; b < k; ++b) {
        const Wide cell = sums.centered(items_[a], items_[b]);
        cells_[a * k + b] = cell;
        row_sums_[a] += cell;
      }
      total_ += row_sums_[a];
      trace_ += cells_[a * k + a];
    }
  }

  std::size_t size() const { return items_.size(); }
  std::size_t item(std::size_t a) const { return items_[a]; }
  Wide cell(std::size_t a, std::size_t b) const { return cells_[a * size() + b]; }
  Wide total() const { return total_; }  // of the sum of the varying items
  Wide trace() const { return trace_; }
  // Of the sum of the varying items but a.
  Wide rest_total(std::size_t a) const { return total_ - 2 * row_sums_[a] + cell(a, a); }
  Wide rest_covariance(std::size_t a) const { return row_sums_[a] - cell(a, a); }

  Real correlation(std::size_t a, std::size_t b) const {
    return static_cast<Real>(cell(a, b)) / std::sqrt(static_cast<Real>(cell(a, a)) * static_cast<Real>(cell(b, b)));
  }

 private:
  std::vector<std::size_t> items_;
  std::vector<Wide> cells_;
  std::vector<Wide> row_sums_;
  Wide total_ = 0;
  Wide trace_ = 0;
};

Real alpha_of(Wide trace, Wide total, std::size_t k) {
  const Real items = static_cast<Real>(k);
  return (1 - static_cast<Real>(trace) / static_cast<Real>(total)) * items / (items - 1);
}

// Squared multiple correlations as psych's smc() takes them: 1 − 1 / diag of the pseudo-inverse of
// the correlation matrix, kept within 0 and 1.
std::vector<Real> squared_multiple_correlations(const std::vector<Real>& correlations, std::size_t k) {
  const std::vector<Eigenpair> pairs = pseudo_inverse_pairs(correlations, k);
  std::vector<Real> smc(k);
  for (std::size_t i = 0; i < k; ++i) {
    Real diagonal = 0;
    for (const Eigenpair& pair : pairs) diagonal += pair.vector[i] * pair.vector[i] / pair.value;
    smc[i] = std::clamp<Real>(1 - 1 / diagonal, 0, 1);
  }
  return smc;
}

void correlation_statistics(const Varying& varying, ScaleStatistics& scale) {
  const std::size_t k = varying.size();
  std::vector<Real> correlations(k * k);
  Real sum = 0;
  for (std::size_t a = 0; a < k; ++a) {
    for (std::size_t b = 0; b < k; ++b) {
      correlations[a * k + b] = (a == b) ? 1 : varying.correlation(a, b);
      sum += correlations[a * k + b];
    }
  }
  const Real items = static_cast<Real>(k);
  scale.average_r = static_cast<double>((sum - items) / (items * (items - 1)));
  if (!(sum > 0)) return;
  Real smc_sum = 0;
  for (const Real smc : squared_multiple_correlations(correlations, k)) smc_sum += smc;
  scale.g6 = static_cast<double>(1 - (items - smc_sum) / sum);
}

void scale_statistics(const Varying& varying, ScaleStatistics& scale) {
  if (scale.n < 2 || varying.size() < 2 || varying.total() <= 0) return;
  const Real alpha = alpha_of(varying.trace(), varying.total(), varying.size());
  scale.alpha = static_cast<double>(alpha);
  const Interval interval = feldt_interval(*scale.alpha, scale.n, varying.size());
  scale.alpha_low = interval.low;
  scale.alpha_high = interval.high;
  scale.sem = *scale.sd * std::sqrt(std::max<double>(0, static_cast<double>(1 - alpha)));
  correlation_statistics(varying, scale);
}

void item_statistics(const Varying& varying, std::vector<ItemStatistics>& items) {
  const std::size_t k = varying.size();
  for (std::size_t a = 0; a < k; ++a) {
    ItemStatistics& item = items[varying.item(a)];
    const Wide rest = varying.rest_total(a);
    if (rest <= 0) continue;
    item.r_drop = static_cast<double>(static_cast<Real>(varying.rest_covariance(a)) /
                                      std::sqrt(static_cast<Real>(varying.cell(a, a)) * static_cast<Real>(rest)));
    if (k >= 3) item.alpha_if_dropped = static_cast<double>(alpha_of(varying.trace() - varying.cell(a, a), rest, k - 1));
  }
}

void flag_item(ItemStatistics& item, const std::optional<double>& alpha) {
  if (item.sd == 0.0) add_flag(item.flag, flag_no_variance);
  if (item.r_drop && *item.r_drop < miskeyed_r_drop) add_flag(item.flag, flag_miskeyed);
  else if (item.r_drop && *item.r_drop < weak_r_drop) add_flag(item.flag, flag_weak);
  if (alpha && item.alpha_if_dropped && *item.alpha_if_dropped > *alpha + alpha_rise_margin) {
    add_flag(item.flag, flag_alpha_rises);
  }
}

// Mean and sd of each item and of the total, which count every item, varying or not.
void descriptive_statistics(const ScaleSums& sums, ScaleStatistics& scale) {
  const Real n = static_cast<Real>(scale.n);
  const Real pairs = n * (n - 1);
  std::int64_t total = 0;
  Wide total_square = 0;
  for (std::size_t i = 0; i < scale.k; ++i) {
    ItemStatistics& item = scale.items[i];
    total += sums.sum(i);
    item.mean = static_cast<double>(sums.sum(i) / n);
    for (std::size_t j = 0; j < scale.k; ++j) total_square += sums.centered(i, j);
    if (scale.n >= 2) item.sd = static_cast<double>(std::sqrt(static_cast<Real>(sums.centered(i, i)) / pairs));
  }
  scale.mean = static_cast<double>(total / n);
  if (scale.n >= 2) scale.sd = static_cast<double>(std::sqrt(static_cast<Real>(total_square) / pairs));
}

}  // namespace

Interval feldt_interval(double alpha, std::int64_t n, std::size_t k, double confidence) {
  const double df1 = static_cast<double>(n - 1);
  const double df2 = df1 * static_cast<double>(k - 1);
  const double tail = (1 - confidence) / 2;
  return {1 - (1 - alpha) * f_quantile(1 - tail, df1, df2), 1 - (1 - alpha) * f_quantile(tail, df1, df2)};
}

ScaleStatistics reliability(const ScaleSums& sums) {
  ScaleStatistics scale;
  scale.k = sums.items();
  scale.n = sums.clients();
  scale.items.resize(scale.k);
  if (scale.n == 0) return scale;
  descriptive_statistics(sums, scale);
  const Varying varying(sums);
  scale_statistics(varying, scale);
  item_statistics(varying, scale.items);
  for (ItemStatistics& item : scale.items) flag_item(item, scale.alpha);
  return scale;
}

}  // namespace psychometrics
