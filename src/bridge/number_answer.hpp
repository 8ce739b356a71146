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

}  // namespace bridge
