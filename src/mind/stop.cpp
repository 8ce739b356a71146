#include "mind/stop.hpp"

namespace mind {

bool StopCheck::poll() noexcept {
  if (stopped_ || ask_ == nullptr) return stopped_;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return false;
  // The first look only starts the clock: a run shorter than one interval never asks.
  const bool first = next_ == std::chrono::steady_clock::time_point{};
  next_ = now + interval;
  if (first) return false;
  stopped_ = ask_(context_);
  return stopped_;
}

}  // namespace mind
