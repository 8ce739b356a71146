#include "host/names.hpp"

namespace host {

namespace {

[[noreturn]] void raise_missing_name(PyObject* module, const char* module_name, const char* name) {
  Ref message;
  Ref path = Ref::consuming(PyObject_GetAttrString(module, "__file__"));
  if (path && path.get() != Py_None) {
    message = require(PyUnicode_FromFormat("cannot import name '%s' from '%s' (%S)", name, module_name, path.get()));
  } else {
    PyErr_Clear();
    path = Ref::owning(Py_None);
    message = require(PyUnicode_FromFormat("cannot import name '%s' from '%s' (unknown location)", name, module_name));
  }
  Ref package = require(PyUnicode_FromString(module_name));
  PyErr_SetImportError(message.get(), package.get(), path.get());
  throw PythonError{};
}

}  // namespace

Ref import_module(const char* name) {
  // An empty fromlist returns the top-level package, which is what `import a.b` binds.
  return require(PyImport_ImportModuleLevel(name, nullptr, nullptr, nullptr, 0));
}

Ref import_from(const char* module_name, const char* name) {
  // The fromlist makes the import system load `module.name` when it is a submodule.
  Ref fromlist = require(Py_BuildValue("(s)", name));
  Ref module = require(PyImport_ImportModuleLevel(module_name, nullptr, nullptr, fromlist.get(), 0));
  PyObject* value = PyObject_GetAttrString(module.get(), name);
  if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    raise_missing_name(module.get(), module_name, name);
  }
  return require(value);
}

Ref global(PyObject* module, const char* name) {
  PyObject* globals = PyModule_GetDict(module);  // borrowed
  Ref key = require(PyUnicode_FromString(name));
  PyObject* value = PyDict_GetItemWithError(globals, key.get());  // borrowed
  if (value == nullptr) {
    if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw PythonError{};
  }
  return Ref::owning(value);
}

PyObject* module_of(PyObject* instance) {
  PyObject* module = PyType_GetModule(Py_TYPE(instance));
  if (module == nullptr) throw PythonError{};
  return module;
}

void bind(PyObject* module, const char* name, const Ref& value) {
  require_status(PyModule_AddObjectRef(module, name, value.get()));
}

}  // namespace host
