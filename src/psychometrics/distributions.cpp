#include "psychometrics/distributions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace psychometrics {

namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();
constexpr double tiny = 1e-300;  // stands in for a zero denominator of a continued fraction
constexpr double half_log_two_pi = 0.918938533204672741780329736406;

// Thread-safe: std::lgamma writes the sign of its result to a global.
double log_gamma(double z) {
  int sign = 0;
  return ::lgamma_r(z, &sign);
}

// a (log(1 + t) - t), where 1 + t = ratio is also given as computed from x itself. For small |t|
// the plain difference would lose its digits, so it goes through u = t / (2 + t):
// log(1 + t) = 2 (u + u^3/3 + u^5/5 + ...) and t - 2u = t u. Far from 0, t itself may have lost
// what distinguishes the ratio from 0, so the ratio serves.
double scaled_log_deficit(double a, double t, double ratio) {
  if (std::fabs(t) > 0.5) return a * (std::log(ratio) - t);
  const double u = t / (2 + t);
  const double u2 = u * u;
  double power = u * u2;
  double series = 0;
  for (int m = 3;; m += 2) {
    const double next = series + power / m;
    if (next == series) break;
    series = next;
    power *= u2;
  }
  return -a * (t * u - 2 * series);
}

// log Γ(z) - ((z - 1/2) log z - z + log √(2π)), Stirling's series for large z.
double stirling_error(double z) {
  if (z < 10) return log_gamma(z) - ((z - 0.5) * std::log(z) - z + half_log_two_pi);
  const double r = 1 / z;
  const double r2 = r * r;
  return r * (1.0 / 12 - r2 * (1.0 / 360 - r2 * (1.0 / 1260 - r2 * (1.0 / 1680 - r2 * (1.0 / 1188 -
         r2 * (691.0 / 360360 - r2 * (1.0 / 156 - r2 * 3617.0 / 122400)))))));
}

// x^a y^b / B(a, b) for 0 < x < 1 and y = 1 - x. Written through λ = a - (a + b) x, the deviation
// of x from the mean a / (a + b): for large a and b the logarithms of the three factors are huge and
// nearly cancel, while these terms stay small.
double beta_front(double a, double b, double x, double y) {
  const double lambda = (x <= 0.5) ? a - (a + b) * x : (a + b) * y - b;
  const double exponent = scaled_log_deficit(a, -lambda / a, x * ((a + b) / a)) +
                          scaled_log_deficit(b, lambda / b, y * ((a + b) / b)) -
                          (stirling_error(a) + stirling_error(b) - stirling_error(a + b));
  return std::sqrt(a * b / ((a + b) * 2 * std::numbers::pi)) * std::exp(exponent);
}

// The continued fraction of I_x(a, b) = beta_front · fraction / a (modified Lentz). It converges
// quickly for x below (a + 1) / (a + b + 2), in about √max(a, b) terms at worst.
double beta_fraction(double a, double b, double x) {
  const double limit = 100 + 10 * std::sqrt(std::max(a, b));
  const auto guarded = [](double v) { return std::fabs(v) < tiny ? tiny : v; };
  double c = 1;
  double d = 1 / guarded(1 - (a + b) * x / (a + 1));
  double h = d;
  for (double m = 1; m <= limit; ++m) {
    const double even = m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m));
    d = 1 / guarded(1 + even * d);
    c = guarded(1 + even / c);
    h *= d * c;
    const double odd = -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
    d = 1 / guarded(1 + odd * d);
    c = guarded(1 + odd / c);
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) <= 3 * epsilon) return h;
  }
  throw std::runtime_error("the incomplete beta function did not converge");
}

// Both tails of Beta(a, b) at x (y = 1 - x): the one the fraction gives directly is accurate to its
// last digits, however small; the other is its complement.
struct Tails {
  double lower;
  double upper;
};

Tails beta_tails(double a, double b, double x, double y) {
  if (x <= 0) return {0, 1};
  if (y <= 0) return {1, 0};
  if (x < (a + 1) / (a + b + 2)) {
    const double lower = beta_front(a, b, x, y) * beta_fraction(a, b, x) / a;
    return {lower, 1 - lower};
  }
  const double upper = beta_front(a, b, x, y) * beta_fraction(b, a, y) / b;
  return {1 - upper, upper};
}

// A first guess at the p quantile of Beta(a, b): a normal approximation for a, b >= 1, otherwise the
// leading terms of the two tails (Abramowitz and Stegun 26.5.22 and the power laws at 0 and 1).
double beta_guess(double a, double b, double p) {
  if (a >= 1 && b >= 1) {
    const double t = std::sqrt(-2 * std::log(p < 0.5 ? p : 1 - p));
    double z = (2.30753 + t * 0.27061) / (1 + t * (0.99229 + t * 0.04481)) - t;
    if (p < 0.5) z = -z;
    const double al = (z * z - 3) / 6;
    const double h = 2 / (1 / (2 * a - 1) + 1 / (2 * b - 1));
    const double w = z * std::sqrt(al + h) / h - (1 / (2 * b - 1) - 1 / (2 * a - 1)) * (al + 5.0 / 6 - 2 / (3 * h));
    return a / (a + b * std::exp(2 * w));
  }
  const double at_zero = std::exp(a * std::log(a / (a + b))) / a;
  const double at_one = std::exp(b * std::log(b / (a + b))) / b;
  const double both = at_zero + at_one;
  if (p < at_zero / both) return std::pow(a * both * p, 1 / a);
  return 1 - std::pow(b * both * (1 - p), 1 / b);
}

// The x in (0, 1/2] with I_x(a, b) = p, where q = 1 - p and the quantile is known to lie there.
// Newton's steps, kept inside a bracket that halves when a step would leave it. Solving for the
// smaller of x and 1 - x keeps both to full relative precision.
double beta_quantile_below_half(double a, double b, double p, double q) {
  double low = 0;
  double high = 0.5;
  double x = beta_guess(a, b, p);
  if (!(x > low && x < high)) x = high / 2;
  for (int step = 0; step < 1000; ++step) {
    const double y = 1 - x;
    const Tails tails = beta_tails(a, b, x, y);
    // The tail that holds the smaller probability decides, so small p keep their digits.
    const double miss = (p <= q) ? tails.lower - p : q - tails.upper;
    if (miss == 0) return x;
    (miss < 0 ? low : high) = x;
    double next = x - miss / (beta_front(a, b, x, y) / (x * y));
    if (!(next > low && next < high)) next = (low + high) / 2;
    if (std::fabs(next - x) <= 2 * epsilon * x) return next;
    x = next;
  }
  return x;
}

// The regularized lower incomplete gamma P(a, z) as its series (for z < a + 1), or the upper Q(a, z)
// as its continued fraction, each times z^a e^-z / Γ(a).
double gamma_series(double a, double z) {
  double term = 1 / a;
  double sum = term;
  for (double n = a + 1; term > sum * epsilon; ++n) {
    term *= z / n;
    sum += term;
  }
  return sum;
}

double gamma_fraction(double a, double z) {
  double b = z + 1 - a;
  double c = 1 / tiny;
  double d = 1 / b;
  double h = d;
  for (double i = 1; i < 100000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) <= 3 * epsilon) return h;
  }
  throw std::runtime_error("the incomplete gamma function did not converge");
}

}  // namespace

double incomplete_beta(double a, double b, double x) { return beta_tails(a, b, x, 1 - x).lower; }

double f_quantile(double p, double df1, double df2) {
  if (!(df1 > 0 && df2 > 0) || std::isnan(p)) return std::numeric_limits<double>::quiet_NaN();
  if (p <= 0) return 0;
  if (p >= 1) return std::numeric_limits<double>::infinity();
  // F = (df2 / df1) x / (1 - x) for x of Beta(df1 / 2, df2 / 2).
  const double a = df1 / 2;
  const double b = df2 / 2;
  const double q = 1 - p;
  const Tails middle = beta_tails(a, b, 0.5, 0.5);
  if ((p <= q) ? middle.lower >= p : middle.upper <= q) {
    const double x = beta_quantile_below_half(a, b, p, q);
    return df2 / df1 * x / (1 - x);
  }
  const double y = beta_quantile_below_half(b, a, q, p);
  return df2 / df1 * (1 - y) / y;
}

double chi_square_upper(double x, double df) {
  if (!(df > 0) || std::isnan(x)) return std::numeric_limits<double>::quiet_NaN();
  if (x <= 0) return 1;
  const double a = df / 2;
  const double z = x / 2;
  const double front = std::exp(-z + a * std::log(z) - log_gamma(a));
  if (z < a + 1) return 1 - front * gamma_series(a, z);
  return front * gamma_fraction(a, z);
}

}  // namespace psychometrics
