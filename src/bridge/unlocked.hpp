// Work of the scoring core run without the global lock, stoppable by the host's signal handlers.
#pragma once

#include "bridge/failures.hpp"
#include "bridge/report.hpp"
#include "host/ref.hpp"
#include "host/signals.hpp"
#include "mind/failure.hpp"
#include "mind/run.hpp"
#include "mind/stop.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace bridge {

// Runs `work(stop)` with the global lock released and returns what it returns, under the lock
// again. On the main thread the host's signal handlers run every StopCheck::interval at most; when
// one raises, the work unwinds and what the handler raised propagates as PythonError. A
// mind::Failure that escapes the work, which names no answer, is raised as the host's own error.
template <class Work>
auto run_unlocked(Work&& work, ReportConverter& converter) {
  host::SignalHandlers signals;
  mind::StopCheck stop(host::SignalHandlers::raised_in, &signals);
  std::optional<decltype(work(stop))> result;
  std::optional<mind::Failure> failure;
  bool stopped = false;
  {
    host::ReleasedLock unlocked;
    try {
      result.emplace(work(stop));
    } catch (mind::Failure& caught) {
      failure.emplace(std::move(caught));
    } catch (const mind::Stopped&) {
      stopped = true;
    }
  }
  if (stopped) signals.restore_raised();
  if (failure) raise_failure(failure->reason(), converter, NoAnswers());
  return std::move(*result);
}

// The database read once for many clients, as a call of mind reads it, stopped when a signal
// handler raises (Ctrl-C on an endless view).
inline std::unique_ptr<mind::Battery> read_battery(const std::string& path, ReportConverter& converter) {
  return run_unlocked([&](mind::StopCheck& stop) { return std::make_unique<mind::Battery>(path.c_str(), stop); }, converter);
}

}  // namespace bridge
