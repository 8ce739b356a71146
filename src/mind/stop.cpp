#include "mind/stop.hpp"

namespace mind {

bool StopCheck::poll() noexcept {
  if (stopped_ || ask_ == nullptr) return stopped_;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return false;
  next_ = now + interval;
  stopped_ = ask_(context_);
  return stopped_;
}

}  // namespace mind
