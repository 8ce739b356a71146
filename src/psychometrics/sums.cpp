#include "psychometrics/sums.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <utility>

namespace psychometrics {

namespace {

constexpr std::size_t block_size = 256;
// Scores up to this magnitude keep a dot product over a block within 32 bits.
constexpr std::int32_t small_score = 2896;
static_assert(std::int64_t{small_score} * small_score * block_size <= std::numeric_limits<std::int32_t>::max());

template <class Sum>
Sum dot(const Score* a, const Score* b, std::size_t n) noexcept {
  Sum sum = 0;
  for (std::size_t r = 0; r < n; ++r) sum += static_cast<Sum>(a[r]) * static_cast<Sum>(b[r]);
  return sum;
}

}  // namespace

ScaleSums::ScaleSums(std::size_t items)
    : items_(items), sums_(items), cross_(items * (items + 1) / 2), block_(items * block_size) {}

void ScaleSums::add(std::span<const Score> scores) {
  if (scores.size() != items_) throw std::length_error("a row of item scores must hold one score for each item");
  if (clients_ == max_clients) throw std::overflow_error("too many clients for one scale's sums");
  ++clients_;
  // Locals, which the compiler need not reload after every store.
  Score* column = block_.data() + block_clients_;
  std::int64_t* sums = sums_.data();
  std::int32_t largest = block_largest_;
  for (std::size_t i = 0; i < items_; ++i) {
    const Score x = scores[i];
    column[i * block_size] = x;
    sums[i] += x;
    largest = std::max(largest, std::abs(std::int32_t{x}));
  }
  block_largest_ = largest;
  if (++block_clients_ == block_size) fold_block();
}

std::int64_t ScaleSums::block_cross(std::size_t i, std::size_t j) const noexcept {
  const Score* a = &block_[i * block_size];
  const Score* b = &block_[j * block_size];
  if (block_largest_ <= small_score) return dot<std::int32_t>(a, b, block_clients_);
  return dot<std::int64_t>(a, b, block_clients_);
}

void ScaleSums::fold_block() noexcept {
  for (std::size_t i = 0; i < items_; ++i) {
    for (std::size_t j = i; j < items_; ++j) cross_[offset(i) + (j - i)] += block_cross(i, j);
  }
  block_clients_ = 0;
  block_largest_ = 0;
}

void ScaleSums::merge(const ScaleSums& other) {
  if (other.items_ != items_) throw std::length_error("only sums of the same scale merge");
  if (other.clients_ > max_clients - clients_) throw std::overflow_error("too many clients for one scale's sums");
  clients_ += other.clients_;
  for (std::size_t i = 0; i < items_; ++i) {
    sums_[i] += other.sums_[i];
    for (std::size_t j = i; j < items_; ++j) cross_[offset(i) + (j - i)] += other.cross(i, j);
  }
}

std::int64_t ScaleSums::cross(std::size_t i, std::size_t j) const noexcept {
  if (i > j) std::swap(i, j);
  return cross_[offset(i) + (j - i)] + block_cross(i, j);
}

Wide ScaleSums::centered(std::size_t i, std::size_t j) const noexcept {
  return Wide{clients_} * cross(i, j) - Wide{sums_[i]} * sums_[j];
}

}  // namespace psychometrics
