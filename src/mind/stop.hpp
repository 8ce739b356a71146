// A run that the caller can stop: asked now and then whether to go on, never more than the clock allows.
#pragma once

#include <chrono>
#include <exception>

namespace mind {

// The caller stopped the run; it holds its own reason, the run only unwinds.
struct Stopped : std::exception {
  const char* what() const noexcept override { return "scoring stopped by its caller"; }
};

class StopCheck {
 public:
  // `wants_stop(context)` is asked at most once per interval; true ends the run. Without one the
  // run is never stopped and the clock is never read.
  using Ask = bool (*)(void* context);
  StopCheck() noexcept = default;
  StopCheck(Ask wants_stop, void* context) noexcept : ask_(wants_stop), context_(context) {}

  // True once the caller asked for the stop: cheap enough for SQLite's progress handler.
  bool poll() noexcept;
  // Between steps of the run: unwinds with Stopped when the caller asked for the stop.
  void check() {
    if (poll()) throw Stopped{};
  }
  bool stopped() const noexcept { return stopped_; }

  static constexpr std::chrono::milliseconds interval{20};

 private:
  Ask ask_ = nullptr;
  void* context_ = nullptr;
  std::chrono::steady_clock::time_point next_{};
  bool stopped_ = false;
};

}  // namespace mind
