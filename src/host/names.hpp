// Reaching host names: imported modules, names imported from them, and a module's global variables.
#pragma once

#include "host/ref.hpp"

namespace host {

// `import name`: the top-level module for a dotted name, as the statement binds it.
Ref import_module(const char* name);

// `from module import name`, failing with the host's ImportError wording when the name is missing.
Ref import_from(const char* module, const char* name);

// The global `name` of `module` as its own code would read it now, so the host may rebind it between
// calls; NameError when it is gone.
Ref global(PyObject* module, const char* name);

// The module whose type `instance` is of (borrowed): the module the type was made for.
PyObject* module_of(PyObject* instance);

// Sets `module.name`; the module's attributes appear in the order of these calls.
void bind(PyObject* module, const char* name, const Ref& value);

}  // namespace host
