#include "host/calls.hpp"

namespace host {

Ref attribute(PyObject* owner, const char* name) { return require(PyObject_GetAttrString(owner, name)); }

Ref keywords(std::initializer_list<std::pair<const char*, PyObject*>> items) {
  Ref dict = require(PyDict_New());
  for (const auto& [key, value] : items) require_status(PyDict_SetItemString(dict.get(), key, value));
  return dict;
}

}  // namespace host
