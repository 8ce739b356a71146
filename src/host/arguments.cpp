#include "host/arguments.hpp"

#include "host/ref.hpp"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

namespace host {

namespace {

PyObject* keyword_argument(PyObject* kwargs, const char* function, const char* keyword) {
  PyObject* found = nullptr;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", function);
      throw PythonError{};
    }
    if (PyUnicode_CompareWithASCIIString(key, keyword) != 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, key);
      throw PythonError{};
    }
    found = value;
  }
  return found;
}

std::size_t usable_cpus() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return static_cast<std::size_t>(std::max(1, CPU_COUNT(&set)));
}

}  // namespace

std::size_t thread_count(PyObject* threads, std::optional<std::size_t> most) {
  if (threads == nullptr || threads == Py_None) return std::min(usable_cpus(), most.value_or(SIZE_MAX));
  const long n = PyLong_AsLong(threads);
  if (n == -1 && PyErr_Occurred()) throw PythonError{};
  if (most && (n < 1 || static_cast<unsigned long>(n) > *most)) {
    PyErr_Format(PyExc_ValueError, "threads must be 1 to %zu, not %ld", *most, n);
    throw PythonError{};
  }
  if (n < 1) {
    PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
    throw PythonError{};
  }
  return static_cast<std::size_t>(n);
}

std::string existing_file_path(PyObject* path) {
  std::string name = file_path(path);
  struct stat info {};
  if (stat(name.c_str(), &info) != 0) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path);
    throw PythonError{};
  }
  return name;
}

std::string file_path(PyObject* path) {
  PyObject* encoded = nullptr;
  if (!PyUnicode_FSConverter(path, &encoded)) throw PythonError{};
  Ref bytes = Ref::consuming(encoded);
  return PyBytes_AsString(bytes.get());
}

PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function, const char* keyword) {
  Py_ssize_t positional = PyTuple_Size(args);
  if (positional < 0) throw PythonError{};
  if (positional > 1) {
    PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zd were given", function, positional);
    throw PythonError{};
  }
  PyObject* by_keyword = (kwargs != nullptr) ? keyword_argument(kwargs, function, keyword) : nullptr;
  if (positional == 1) {
    if (by_keyword != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function, keyword);
      throw PythonError{};
    }
    return PyTuple_GetItem(args, 0);
  }
  if (by_keyword == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: '%s'", function, keyword);
    throw PythonError{};
  }
  return by_keyword;
}

}  // namespace host
