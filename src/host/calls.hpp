// Calls into host objects, by attribute name and with keyword arguments in a fixed order.
#pragma once

#include "host/ref.hpp"

#include <initializer_list>
#include <utility>

namespace host {

// `owner.name`, as the host looks it up (descriptors, __getattr__).
Ref attribute(PyObject* owner, const char* name);

// `owner.name(args...)`; each argument is borrowed.
template <class... Args>
Ref call_method(PyObject* owner, const char* name, Args... args) {
  Ref method = attribute(owner, name);
  return require(PyObject_CallFunctionObjArgs(method.get(), static_cast<PyObject*>(args)..., nullptr));
}

// A keyword dict whose iteration order is the order given, which the callee sees as **kwargs.
Ref keywords(std::initializer_list<std::pair<const char*, PyObject*>> items);

}  // namespace host
