#include "psychometrics/eigen.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace psychometrics {

namespace {

// The symmetric matrix under rotation, read and written through its upper triangle.
class Upper {
 public:
  Upper(std::vector<long double> cells, std::size_t size) : cells_(std::move(cells)), size_(size) {}
  long double& operator()(std::size_t i, std::size_t j) { return i <= j ? cells_[i * size_ + j] : cells_[j * size_ + i]; }

 private:
  std::vector<long double> cells_;
  std::size_t size_;
};

struct Rotation {
  long double s;
  long double tau;  // s / (1 + c), so that each update is a small correction of the old value
  void apply(long double& g, long double& h) const {
    const long double old_g = g;
    g -= s * (h + g * tau);
    h += s * (old_g - h * tau);
  }
};

constexpr int max_sweeps = 100;

}  // namespace

// The classic cyclic Jacobi method: each rotation zeroes one off-diagonal element; the first sweeps
// skip the small ones, later ones drop an element that no longer changes the diagonal beside it.
std::vector<Eigenpair> symmetric_eigenpairs(std::vector<long double> matrix, std::size_t size) {
  Upper a(std::move(matrix), size);
  std::vector<long double> vectors(size * size, 0);
  std::vector<long double> diagonal(size);
  for (std::size_t i = 0; i < size; ++i) {
    vectors[i * size + i] = 1;
    diagonal[i] = a(i, i);
  }
  std::vector<long double> start = diagonal;
  std::vector<long double> shift(size, 0);
  for (int sweep = 1; sweep <= max_sweeps; ++sweep) {
    long double off = 0;
    for (std::size_t p = 0; p < size; ++p) {
      for (std::size_t q = p + 1; q < size; ++q) off += std::fabs(a(p, q));
    }
    if (off == 0) {
      std::vector<Eigenpair> pairs(size);
      for (std::size_t c = 0; c < size; ++c) {
        pairs[c].value = diagonal[c];
        for (std::size_t r = 0; r < size; ++r) pairs[c].vector.push_back(vectors[r * size + c]);
      }
      return pairs;
    }
    const long double threshold = sweep < 4 ? 0.2L * off / static_cast<long double>(size * size) : 0;
    for (std::size_t p = 0; p < size; ++p) {
      for (std::size_t q = p + 1; q < size; ++q) {
        long double& apq = a(p, q);
        const long double g = 100 * std::fabs(apq);
        if (sweep > 4 && std::fabs(diagonal[p]) + g == std::fabs(diagonal[p]) &&
            std::fabs(diagonal[q]) + g == std::fabs(diagonal[q])) {
          apq = 0;
          continue;
        }
        if (std::fabs(apq) <= threshold) continue;
        const long double h = diagonal[q] - diagonal[p];
        long double t;
        if (std::fabs(h) + g == std::fabs(h)) {
          t = apq / h;
        } else {
          const long double theta = 0.5L * h / apq;
          t = 1 / (std::fabs(theta) + std::sqrt(1 + theta * theta));
          if (theta < 0) t = -t;
        }
        const long double c = 1 / std::sqrt(1 + t * t);
        const Rotation rotation{t * c, t * c / (1 + c)};
        const long double moved = t * apq;
        shift[p] -= moved;
        shift[q] += moved;
        diagonal[p] -= moved;
        diagonal[q] += moved;
        apq = 0;
        for (std::size_t j = 0; j < size; ++j) {
          if (j != p && j != q) rotation.apply(a(j, p), a(j, q));
          rotation.apply(vectors[j * size + p], vectors[j * size + q]);
        }
      }
    }
    // The diagonal is refreshed from the sums of its shifts, which keeps rounding from piling up.
    for (std::size_t i = 0; i < size; ++i) {
      start[i] += shift[i];
      diagonal[i] = start[i];
      shift[i] = 0;
    }
  }
  throw std::runtime_error("the eigenvalues of a matrix did not converge");
}

std::vector<Eigenpair> pseudo_inverse_pairs(std::vector<long double> matrix, std::size_t size) {
  std::vector<Eigenpair> pairs = symmetric_eigenpairs(std::move(matrix), size);
  long double largest = 0;
  for (const Eigenpair& pair : pairs) largest = std::max(largest, std::fabs(pair.value));
  const long double tolerance = std::sqrt(static_cast<long double>(std::numeric_limits<double>::epsilon())) * largest;
  std::erase_if(pairs, [&](const Eigenpair& pair) { return !(std::fabs(pair.value) > tolerance); });
  return pairs;
}

}  // namespace psychometrics
