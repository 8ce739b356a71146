// Argument checks of exposed functions, worded as the host words them for a `def f(name)`.
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>

namespace host {

// Returns the one argument of `function(keyword)`, given by position or by keyword (borrowed).
// Any other call raises the host's TypeError before anything else happens.
PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function, const char* keyword);

// A file path as the host's sqlite3.connect takes it (str, bytes or os.PathLike), in the file
// system's encoding; TypeError for other types, ValueError for an embedded NUL.
std::string file_path(PyObject* path);

// A file path as file_path gives it, of a file that is there: OSError (its errno's subclass) where
// none is, since opening would create an empty database, and reading a norm file must not either.
std::string existing_file_path(PyObject* path);

// The `threads` argument of a function that works on threads: at least 1, and at most `most` when
// there is a most; None (or not given, a null pointer) for the CPUs this process may use, up to it.
std::size_t thread_count(PyObject* threads, std::optional<std::size_t> most = std::nullopt);

}  // namespace host
