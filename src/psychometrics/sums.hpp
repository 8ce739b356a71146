// The sufficient statistics of one scale: what a single pass over its clients' item scores gathers.
// They are exact integers, so parts gathered on different threads merge into the same totals in any
// order, and every statistic of the scale is a function of them alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace psychometrics {

// An item score, or an answer: small integers. Their bound keeps every cross-product sum in 64 bits.
using Score = std::int16_t;

// Wide enough for n Σxy − Σx Σy over any number of clients a ScaleSums takes.
__extension__ typedef __int128 Wide;  // GCC and Clang; ISO C++ has no 128-bit integer

class ScaleSums {
 public:
  // Each cross-product is at most 2^30, so this many clients cannot overflow a 64-bit sum.
  static constexpr std::int64_t max_clients = (std::int64_t{1} << 33) - 1;

  explicit ScaleSums(std::size_t items);

  std::size_t items() const noexcept { return items_; }
  std::int64_t clients() const noexcept { return clients_; }

  // One client's item scores, in item order: `scores.size()` is items(). Throws std::length_error
  // for a row of another size and std::overflow_error past max_clients.
  void add(std::span<const Score> scores);
  // Adds what another part of the same scale gathered (the same number of items).
  void merge(const ScaleSums& other);

  // Σ x_i over the clients.
  std::int64_t sum(std::size_t i) const noexcept { return sums_[i]; }
  // Σ x_i x_j over the clients, in either order of i and j.
  std::int64_t cross(std::size_t i, std::size_t j) const noexcept;
  // n Σ x_i x_j − Σ x_i Σ x_j: n (n − 1) times the covariance of items i and j, exactly.
  Wide centered(std::size_t i, std::size_t j) const noexcept;

 private:
  std::size_t offset(std::size_t i) const noexcept { return i * (2 * items_ - i + 1) / 2; }
  // Σ over the block's clients of x_i x_j.
  std::int64_t block_cross(std::size_t i, std::size_t j) const noexcept;
  void fold_block() noexcept;

  std::size_t items_;
  std::int64_t clients_ = 0;
  std::vector<std::int64_t> sums_;
  std::vector<std::int64_t> cross_;  // the upper triangle, diagonal included, row by row
  // The latest clients' scores, item by item (column-major), folded into cross_ when full: the
  // cross-products of two items are then one dot product of 16-bit values, which the compiler
  // runs eight products to an instruction.
  std::vector<Score> block_;
  std::size_t block_clients_ = 0;
  std::int32_t block_largest_ = 0;  // the largest magnitude of a score in the block
};

}  // namespace psychometrics
