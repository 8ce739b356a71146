// The norm file where it meets the host: read and written without the global lock, its failures
// raised as the host's errors, for every module that takes a norm file.
#pragma once

#include <Python.h>

#include "psychometrics/norms.hpp"

namespace norm_host {

// The group of the norm file at `path` (a str, bytes or os.PathLike path). Raises sqlite3's own
// error for SQLite's failures, ValueError for a file that holds no valid norm group, and OSError
// where no file is: reading never creates one, which opening would not promise on every system.
psychometrics::NormGroup read_group(PyObject* path);

// Writes the group to the norm file at `path`, with the errors of read_group.
void write_group(PyObject* path, const psychometrics::NormGroup& group);

}  // namespace norm_host
