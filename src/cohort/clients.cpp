#include "cohort/clients.hpp"

#include "bridge/unlocked.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "pool/pool.hpp"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>

namespace cohort {

using host::PythonError;
using host::Ref;

namespace {

// More threads than a batch has clients could never all have work.
constexpr std::size_t max_threads = pool::Pool::max_helpers + 1;

std::size_t usable_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
}

}  // namespace

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

Client take_client(PyObject* object) {
  Client c;
  const bridge::ScoringOnThisThread scoring;
  try {
    c.client_id = host::attribute(object, "client_id");
    c.user_responses = host::attribute(object, "user_responses");
    c.snapshot.emplace(bridge::take_snapshot(c.user_responses.get()));
  } catch (const PythonError&) {
    c.error = host::take_ordinary_error();
  }
  return c;
}

Ref client_error(Client& c, const mind::Keys& keys, const mind::DiagnosticLines& lines, const std::optional<mind::Failure>& failure,
                 bridge::ReportConverter& converter) {
  if (c.error) return std::move(c.error);
  const bridge::ScoringOnThisThread scoring;
  if (!c.snapshot->only_numbers) {
    Ref written;
    bridge::diagnostic_text(keys.personality, lines, *c.snapshot, converter, written);
    if (written) return written;
  }
  if (!failure) return Ref();
  try {
    bridge::raise_run_failure(*failure, *c.snapshot, c.user_responses.get(), converter);
  } catch (const PythonError&) {
    return host::take_raised();
  }
}

std::size_t thread_count(PyObject* threads) {
  if (threads == nullptr || threads == Py_None) return std::min(usable_cpus(), max_threads);
  const long n = PyLong_AsLong(threads);
  if (n == -1 && PyErr_Occurred()) throw PythonError{};
  if (n < 1 || static_cast<unsigned long>(n) > max_threads) {
    PyErr_Format(PyExc_ValueError, "threads must be 1 to %zu, not %ld", max_threads, n);
    throw PythonError{};
  }
  return static_cast<std::size_t>(n);
}

std::string database_path(PyObject* database) {
  std::string path = host::file_path(database);
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, database);
    throw PythonError{};
  }
  return path;
}

std::unique_ptr<mind::Battery> read_battery(const std::string& path, bridge::ReportConverter& converter) {
  return bridge::run_unlocked([&](mind::StopCheck& stop) { return std::make_unique<mind::Battery>(path.c_str(), stop); }, converter);
}

}  // namespace cohort
