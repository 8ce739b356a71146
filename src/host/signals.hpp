// The host's signal handlers, run from work that released the global lock.
#pragma once

#include "host/ref.hpp"

#include <cstdint>

namespace host {

// Made under the lock on the thread that will release it. Only the main thread receives signals:
// the first `handlers_raised` learns whether this is it, and elsewhere the later ones answer false
// without taking the lock.
class SignalHandlers {
 public:
  SignalHandlers() noexcept : thread_(PyThreadState_Get()) {}

  // Called without the lock: takes it back for a moment and runs the pending handlers. True when
  // one raised; its exception is kept for `restore_raised`.
  bool handlers_raised() noexcept;
  // The same as a plain function of a context pointer, for code that knows nothing of the host.
  static bool raised_in(void* handlers) noexcept { return static_cast<SignalHandlers*>(handlers)->handlers_raised(); }
  // Under the lock again: sets the kept exception as the current host error and throws PythonError.
  [[noreturn]] void restore_raised();

 private:
  enum class Thread : std::uint8_t { Unknown, Main, Other };

  PyThreadState* thread_;
  Thread kind_ = Thread::Unknown;
  Ref raised_;
};

}  // namespace host
