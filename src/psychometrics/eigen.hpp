// The eigen-decomposition of a symmetric matrix, and the part of it that a pseudo-inverse keeps.
// Correlation and covariance matrices of items are often singular (duplicated items, fewer clients
// than items, a sum of other items), so their inverse is taken as a pseudo-inverse throughout.
#pragma once

#include <cstddef>
#include <vector>

namespace psychometrics {

struct Eigenpair {
  long double value;
  std::vector<long double> vector;  // of unit length
};

// Every eigenpair of the symmetric size × size matrix (row-major; only its upper triangle is read),
// by cyclic Jacobi rotations: O(size^3) per sweep, but accurate to the last digits even for the
// smallest eigenvalues, which decide what a pseudo-inverse keeps.
std::vector<Eigenpair> symmetric_eigenpairs(std::vector<long double> matrix, std::size_t size);

// The eigenpairs a pseudo-inverse keeps: those whose eigenvalue's magnitude exceeds √ε (ε of a
// double, about 1.5e-8) times the largest magnitude, the tolerance of R psych's Pinv on the
// singular values, which for a symmetric matrix are these magnitudes. The pseudo-inverse is
// Σ v vᵀ / λ over them.
std::vector<Eigenpair> pseudo_inverse_pairs(std::vector<long double> matrix, std::size_t size);

}  // namespace psychometrics
