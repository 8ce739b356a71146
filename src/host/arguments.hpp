// Argument checks of exposed functions, worded as the host words them for a `def f(name)`.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>

namespace host {

// Returns the one argument of `function(keyword)`, given by position or by keyword (borrowed).
// Any other call raises the host's TypeError before anything else happens.
PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function, const char* keyword);

// A file path as the host's sqlite3.connect takes it (str, bytes or os.PathLike), in the file
// system's encoding; TypeError for other types, ValueError for an embedded NUL.
std::string file_path(PyObject* path);

// The `threads` argument of a function that works on threads: at least 1; None (or not given, a
// null pointer) for the CPUs this process may use.
std::size_t thread_count(PyObject* threads);

}  // namespace host
