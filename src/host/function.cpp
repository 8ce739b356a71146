#include "host/function.hpp"

#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/names.hpp"
#include "host/objects.hpp"

#include <cstddef>

namespace host {

namespace {

struct Function {
  PyObject_HEAD
  const FunctionDef* definition;
  PyObject* name;
  PyObject* qualname;
  PyObject* module_name;
  PyObject* doc;
  PyObject* annotations;
};

Function* as_function(PyObject* self) { return reinterpret_cast<Function*>(self); }

PyObject* call(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    return as_function(self)->definition->body(module_of(self), args, kwargs).release();
  });
}

// A descriptor that binds nothing, as the host's C functions do when stored on a class; having
// __get__ at all is what makes inspect and pydoc treat these objects as routines.
PyObject* get(PyObject* self, PyObject*, PyObject*) { return Py_NewRef(self); }

PyObject* repr(PyObject* self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

// What a host function's annotation lookup gives: the annotation, or `missing` when there is none.
Ref annotation_of(PyObject* annotations, const char* parameter, PyObject* missing) {
  Ref key = require(PyUnicode_FromString(parameter));
  PyObject* found = PyDict_GetItemWithError(annotations, key.get());  // borrowed
  if (found == nullptr && PyErr_Occurred()) throw PythonError{};
  return Ref::owning(found != nullptr ? found : missing);
}

PyObject* signature(PyObject* self, void*) {
  return boundary([&] {
    const Function* function = as_function(self);
    Ref inspect = import_module("inspect");
    Ref parameter_type = attribute(inspect.get(), "Parameter");
    Ref kind = attribute(parameter_type.get(), "POSITIONAL_OR_KEYWORD");
    Ref empty = attribute(parameter_type.get(), "empty");
    Ref parameters = require(PyList_New(0));
    for (const char* name : function->definition->parameters) {
      Ref annotation = annotation_of(function->annotations, name, empty.get());
      Ref positional = require(Py_BuildValue("(sO)", name, kind.get()));
      Ref options = keywords({{"annotation", annotation.get()}});
      Ref parameter = require(PyObject_Call(parameter_type.get(), positional.get(), options.get()));
      require_status(PyList_Append(parameters.get(), parameter.get()));
    }
    Ref result = annotation_of(function->annotations, "return", empty.get());
    Ref signature_type = attribute(inspect.get(), "Signature");
    Ref positional = require(PyTuple_Pack(1, parameters.get()));
    Ref options = keywords({{"return_annotation", result.get()}});
    return require(PyObject_Call(signature_type.get(), positional.get(), options.get())).release();
  });
}

int traverse(PyObject* self, visitproc visit, void* arg) {
  const Function* function = as_function(self);
  Py_VISIT(Py_TYPE(self));
  Py_VISIT(function->name);
  Py_VISIT(function->qualname);
  Py_VISIT(function->module_name);
  Py_VISIT(function->doc);
  Py_VISIT(function->annotations);
  return 0;
}

int clear(PyObject* self) {
  Function* function = as_function(self);
  Py_CLEAR(function->name);
  Py_CLEAR(function->qualname);
  Py_CLEAR(function->module_name);
  Py_CLEAR(function->doc);
  Py_CLEAR(function->annotations);
  return 0;
}

PyMemberDef members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(Function, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(Function, qualname), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(Function, module_name), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(Function, doc), Py_READONLY, nullptr},
    {"__annotations__", Py_T_OBJECT_EX, offsetof(Function, annotations), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef getters[] = {
    {"__signature__", signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(call)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_descr_get, reinterpret_cast<void*>(get)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(host::gc_dealloc<clear>)},
    {Py_tp_members, members},
    {Py_tp_getset, getters},
    {0, nullptr},
};

PyType_Spec type_definition = {
    "ardo_old.function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

Ref annotations_dict(const FunctionDef& definition) {
  Ref annotations = require(PyDict_New());
  for (const Annotation& annotation : definition.annotations) {
    Ref text = require(PyUnicode_FromString(annotation.text));
    require_status(PyDict_SetItemString(annotations.get(), annotation.parameter, text.get()));
  }
  return annotations;
}

Ref doc_text(const char* doc) { return doc != nullptr ? require(PyUnicode_FromString(doc)) : Ref::owning(Py_None); }

}  // namespace

Ref new_function_type(PyObject* module) { return require(PyType_FromModuleAndSpec(module, &type_definition, nullptr)); }

Ref new_function(PyObject* type, const FunctionDef& definition) {
  Ref self = host::new_instance(type);
  Function* function = as_function(self.get());
  function->definition = &definition;
  function->name = require(PyUnicode_FromString(definition.name)).release();
  function->qualname = Ref::owning(function->name).release();
  function->module_name = require(PyModule_GetNameObject(module_of(self.get()))).release();
  function->doc = doc_text(definition.doc).release();
  function->annotations = annotations_dict(definition).release();
  return self;
}

}  // namespace host
