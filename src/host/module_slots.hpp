// The slots every extension module of this package has: its exec function, and support for
// interpreters with a GIL of their own, which holds because each module keeps its state in its
// module object, never in process globals.
#pragma once

#include <Python.h>

namespace host {

template <int (*exec)(PyObject*)>
inline PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

}  // namespace host
