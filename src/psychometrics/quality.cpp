#include "psychometrics/quality.hpp"

#include "psychometrics/distributions.hpp"
#include "psychometrics/flags.hpp"
#include "psychometrics/eigen.hpp"

#include <algorithm>
#include <cmath>

namespace psychometrics {

AnswerModel::AnswerModel(const ScaleSums& sums) : clients_(sums.clients()), sums_(sums.items()) {
  const std::size_t k = sums.items();
  for (std::size_t j = 0; j < k; ++j) sums_[j] = sums.sum(j);
  if (clients_ < 2) return;
  const long double n = static_cast<long double>(clients_);
  std::vector<long double> covariance(k * k);
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) covariance[i * k + j] = static_cast<long double>(sums.centered(i, j)) / (n * (n - 1));
  }
  const std::vector<Eigenpair> pairs = pseudo_inverse_pairs(std::move(covariance), k);
  rank_ = pairs.size();
  weights_.resize(k * rank_);
  for (std::size_t r = 0; r < rank_; ++r) {
    const long double scale = 1 / std::sqrt(pairs[r].value);
    for (std::size_t j = 0; j < k; ++j) weights_[j * rank_ + r] = static_cast<double>(pairs[r].vector[j] * scale);
  }
}

std::optional<double> AnswerModel::mahalanobis_d2(std::span<const Score> answers) const {
  if (rank_ == 0) return std::nullopt;
  const std::size_t k = sums_.size();
  const double n = static_cast<double>(clients_);
  // n x − Σx is exact, so the deviation from the mean is as exact as one division makes it.
  // The projections on all kept eigenvectors grow together, question by question, so that the
  // sums are independent lanes rather than one chain of additions.
  std::vector<double> projections(rank_);
  for (std::size_t j = 0; j < k; ++j) {
    const double deviation = static_cast<double>(clients_ * answers[j] - sums_[j]) / n;
    const double* w = &weights_[j * rank_];
    for (std::size_t r = 0; r < rank_; ++r) projections[r] += w[r] * deviation;
  }
  double d2 = 0;
  for (const double projection : projections) d2 += projection * projection;
  return d2;
}

namespace {

std::int64_t longest_run(std::span<const Score> answers) {
  std::int64_t longest = 0;
  std::int64_t run = 0;
  for (std::size_t j = 0; j < answers.size(); ++j) {
    run = (j > 0 && answers[j] == answers[j - 1]) ? run + 1 : 1;
    longest = std::max(longest, run);
  }
  return longest;
}

std::optional<double> answer_sd(std::span<const Score> answers) {
  if (answers.size() < 2) return std::nullopt;
  std::int64_t sum = 0;
  std::int64_t squares = 0;
  for (const Score a : answers) {
    sum += a;
    squares += std::int64_t{a} * a;
  }
  const double k = static_cast<double>(answers.size());
  const Wide centered = Wide{static_cast<std::int64_t>(answers.size())} * squares - Wide{sum} * sum;
  return std::sqrt(static_cast<double>(centered) / (k * (k - 1)));
}

// R's quantile(type = 7) of sorted values.
double quantile(const std::vector<double>& sorted, double p) {
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const std::size_t low = static_cast<std::size_t>(std::floor(h));
  const std::size_t high = std::min(low + 1, sorted.size() - 1);
  return sorted[low] + (h - static_cast<double>(low)) * (sorted[high] - sorted[low]);
}

struct Quartiles {
  double first;
  double third;
};

Quartiles quartiles(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return {quantile(values, 0.25), quantile(values, 0.75)};
}

}  // namespace

ClientQuality client_quality(std::span<const Score> answers, const AnswerModel& model) {
  ClientQuality quality;
  quality.longstring = longest_run(answers);
  quality.irv = answer_sd(answers);
  quality.mahalanobis_d2 = model.mahalanobis_d2(answers);
  if (quality.mahalanobis_d2) quality.mahalanobis_p = chi_square_upper(*quality.mahalanobis_d2, static_cast<double>(model.rank()));
  return quality;
}

Fences cohort_fences(const std::vector<ClientQuality>& clients) {
  Fences fences;
  if (clients.empty()) return fences;
  std::vector<double> longstrings;
  std::vector<double> irvs;
  for (const ClientQuality& c : clients) {
    longstrings.push_back(static_cast<double>(c.longstring));
    if (c.irv) irvs.push_back(*c.irv);
  }
  const Quartiles runs = quartiles(std::move(longstrings));
  fences.longstring_high = runs.third + far_out_iqr * std::max(1.0, runs.third - runs.first);
  if (irvs.empty()) return fences;
  const Quartiles spread = quartiles(std::move(irvs));
  fences.irv_low = spread.first - far_out_iqr * (spread.third - spread.first);
  fences.irv_high = spread.third + far_out_iqr * (spread.third - spread.first);
  return fences;
}

void flag_clients(std::vector<ClientQuality>& clients, const Fences& fences) {
  for (ClientQuality& c : clients) {
    if (static_cast<double>(c.longstring) > fences.longstring_high) add_flag(c.flag, flag_long_string);
    if (c.irv && *c.irv < *fences.irv_low) add_flag(c.flag, flag_low_variability);
    if (c.irv && *c.irv > *fences.irv_high) add_flag(c.flag, flag_high_variability);
    if (c.mahalanobis_p && *c.mahalanobis_p < mahalanobis_flag_p) add_flag(c.flag, flag_mahalanobis);
  }
}

}  // namespace psychometrics
