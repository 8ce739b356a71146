#include "psychometrics/norm_host.hpp"

#include "host/arguments.hpp"
#include "host/errors.hpp"
#include "host/sqlite_errors.hpp"
#include "psychometrics/norm_file.hpp"

#include <cerrno>
#include <string>
#include <system_error>

namespace norm_host {

namespace {

namespace ps = psychometrics;

// Runs `work` on the norm file without the global lock; its failures become the host's errors:
// sqlite3's own for SQLite's, ValueError for a file that holds no valid norm group, OSError (with
// its subclass for the errno) for the file system's.
template <class Work>
auto on_norm_file(const std::string& path, Work&& work) {
  try {
    host::ReleasedLock unlocked;
    return work();
  } catch (const ps::NormFileError& failure) {
    if (failure.sqlite_code != 0) host::raise_sqlite_error(failure.sqlite_code, failure.what());
    PyErr_SetString(PyExc_ValueError, failure.what());
  } catch (const std::system_error& failure) {
    errno = failure.code().value();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  }
  throw host::PythonError{};
}

}  // namespace

ps::NormGroup read_group(PyObject* path) {
  const std::string file = host::existing_file_path(path);
  return on_norm_file(file, [&] { return ps::read_norm_file(file); });
}

void write_group(PyObject* path, const ps::NormGroup& group) {
  const std::string file = host::file_path(path);
  on_norm_file(file, [&] { ps::write_norm_file(file, group); });
}

}  // namespace norm_host
