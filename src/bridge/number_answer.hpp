// How an answer that is a number is judged: it equals k (1 to 4) when its value does, and then finds
// entry k of the answer map {1: .., 2: .., 3: .., 4: ..}; any other number equals none and finds
// nothing. The host judges an int, a bool and a float alike, so this needs no host call.
#pragma once

#include "mind/answers.hpp"

namespace bridge {

inline mind::Answer number_answer(double value) noexcept {
  mind::Answer answer;
  for (int k = 1; k <= 4; ++k) {
    if (value == k) {
      answer.equal = static_cast<std::uint8_t>(1u << (k - 1));
      answer.entry = static_cast<std::int8_t>(k);
    }
  }
  return answer;
}

// The same judgement of an integer, given as its 64 bits (two's complement when signed): it is k
// only when its bits are, so this needs neither a conversion nor a branch per k, which on random
// answers cost more than the scoring of them.
inline mind::Answer integer_answer(std::uint64_t bits) noexcept {
  if (bits - 1 >= 4) return {};
  return {static_cast<std::uint8_t>(1u << (bits - 1)), 0, static_cast<std::int8_t>(bits)};
}

}  // namespace bridge
