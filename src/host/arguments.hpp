// Argument checks of exposed functions, worded as the host words them for a `def f(name)`.
#pragma once

#include <Python.h>

namespace host {

// Returns the one argument of `function(keyword)`, given by position or by keyword (borrowed).
// Any other call raises the host's TypeError before anything else happens.
PyObject* single_argument(PyObject* args, PyObject* kwargs, const char* function, const char* keyword);

}  // namespace host
