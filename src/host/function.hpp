// Functions exposed to the host that carry what the host's own functions carry: name, qualified name,
// module, doc, annotations, and a signature that `inspect.signature` reads. The host's C functions
// can carry none of the annotations.
#pragma once

#include "host/ref.hpp"

#include <span>

namespace host {

struct Annotation {
  const char* parameter;  // "return" annotates the result
  const char* text;       // kept as text, as postponed annotations are
};

struct FunctionDef {
  const char* name;
  // Runs one call; `module` is the module the function belongs to.
  Ref (*body)(PyObject* module, PyObject* args, PyObject* kwargs);
  std::span<const char* const> parameters;  // positional-or-keyword, in order
  std::span<const Annotation> annotations = {};
  const char* doc = nullptr;
};

// The type of one module's exposed functions; its functions reach their module through it.
Ref new_function_type(PyObject* module);

// An exposed function of a type from new_function_type. `definition` must outlive it.
Ref new_function(PyObject* type, const FunctionDef& definition);

}  // namespace host
