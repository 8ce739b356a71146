// Writing to the host's sys.stdout, so redirections made by the host see our lines.
#pragma once

#include <Python.h>

namespace host {

// Writes a str to sys.stdout as print would; does nothing when sys.stdout is unset or None.
void write_stdout(PyObject* text);

}  // namespace host
