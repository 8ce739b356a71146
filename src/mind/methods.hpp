// The answer scoring methods: each method code turns an answer 1 to 4 into points.
#pragma once

#include "mind/answers.hpp"
#include "mind/cell.hpp"

#include <cstddef>

namespace mind {

// The method a cell names: 0 to 3 for the texts "A1" to "A4", -1 for anything else.
int method_of(const Cell& cell) noexcept;

// Points of a method (0 to 3) for an answer entry (1 to 4).
int method_points(int method, int entry) noexcept;

// scoring_methods.get(code, {}).get(answer, 0): never fails on the code or the answer's value.
int lenient_points(const Cell& code, const Answer& answer, std::size_t position);

// scoring_methods[code][answer]: KeyError naming the code, then the host's error for the answer.
int strict_points(const Cell& code, const Answer& answer, std::size_t position);

}  // namespace mind
