// Work split over threads in contiguous parts of the rows, the calling thread doing the first part.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

namespace psychometrics {

// Fewer rows than this per thread cost more in starting the thread than they save.
inline constexpr std::size_t rows_per_thread = 8192;

// How many parts `rows` are split into for at most `threads` threads.
inline std::size_t part_count(std::size_t rows, std::size_t threads) {
  return std::clamp<std::size_t>(rows / rows_per_thread, 1, std::max<std::size_t>(threads, 1));
}

struct RowRange {
  std::size_t first;
  std::size_t end;
};

// The part'th of `parts` nearly equal ranges of the rows.
inline RowRange part_range(std::size_t rows, std::size_t parts, std::size_t part) {
  return {rows * part / parts, rows * (part + 1) / parts};
}

// Runs work(part) for every part, each on its own thread but the first; rethrows the failure of
// the lowest part that failed, so which error surfaces does not depend on the threads' timing.
template <class Work>
void run_parts(std::size_t parts, const Work& work) {
  std::vector<std::exception_ptr> failures(parts);
  const auto guarded = [&](std::size_t part) {
    try {
      work(part);
    } catch (...) {
      failures[part] = std::current_exception();
    }
  };
  {
    std::vector<std::jthread> threads;
    threads.reserve(parts);
    for (std::size_t part = 1; part < parts; ++part) threads.emplace_back(guarded, part);
    guarded(0);
  }
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace psychometrics
