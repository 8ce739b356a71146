// The quality of each client's responses over the answer vector, next to the cohort's: indices
// that point at answers worth a second look (straight-lining, random or careless responding), not
// verdicts.
//
// - longstring: the longest run of one answer in question order;
// - irv: the intra-individual response variability, the sd (n − 1) of the client's answers;
// - mahalanobis_d2: the squared Mahalanobis distance of the answers from the cohort's mean, with the
//   cohort's covariance (n − 1). That covariance is singular whenever a question has one answer
//   throughout, questions repeat one another, or there are fewer clients than questions; its
//   pseudo-inverse is taken then (eigenvalues under √ε times the largest count as 0, as in
//   eigen.hpp), which measures the distance within the directions where the cohort varies;
// - mahalanobis_p: P(χ² > d2) with as many degrees of freedom as those directions (the covariance's
//   rank).
// Flags, relative to the cohort: a longstring above Tukey's far-out fence of the cohort's
// longstrings (Q3 + 3 IQR, the IQR taken as at least one answer); an irv beyond the far-out fences
// of the cohort's irv (Q1 − 3 IQR, Q3 + 3 IQR); a Mahalanobis p under .001. Quartiles interpolate
// as R's quantile() does by default (type 7).
#pragma once

#include "psychometrics/sums.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace psychometrics {

inline constexpr double far_out_iqr = 3.0;
inline constexpr double mahalanobis_flag_p = 0.001;

inline constexpr const char* flag_long_string = "long string";
inline constexpr const char* flag_low_variability = "low variability";
inline constexpr const char* flag_high_variability = "high variability";
inline constexpr const char* flag_mahalanobis = "Mahalanobis p < .001";

// The cohort's answers as the distance needs them: their means and the pseudo-inverse of their
// covariance, from the sums of a first pass (the questions as items).
class AnswerModel {
 public:
  explicit AnswerModel(const ScaleSums& sums);

  std::size_t questions() const noexcept { return sums_.size(); }
  std::size_t rank() const noexcept { return rank_; }
  // Null for a cohort under two clients or without any variation.
  std::optional<double> mahalanobis_d2(std::span<const Score> answers) const;

 private:
  std::int64_t clients_;
  std::vector<std::int64_t> sums_;
  std::size_t rank_ = 0;
  std::vector<double> weights_;  // questions × rank: each kept eigenvector over √ of its eigenvalue
};

struct ClientQuality {
  std::int64_t longstring = 0;
  std::optional<double> irv;  // from two answers
  std::optional<double> mahalanobis_d2;
  std::optional<double> mahalanobis_p;
  std::string flag;  // the flags that apply, joined by "; "; empty: none
};

ClientQuality client_quality(std::span<const Score> answers, const AnswerModel& model);

struct Fences {
  double longstring_high = 0;
  std::optional<double> irv_low;  // none when no client has an irv
  std::optional<double> irv_high;
};

Fences cohort_fences(const std::vector<ClientQuality>& clients);
void flag_clients(std::vector<ClientQuality>& clients, const Fences& fences);

}  // namespace psychometrics
