// `Args` is made by the host's own `dataclass` from a class built by the host's `type`, so its
// construction, text form, equality, hashing, pickling and `dataclasses.fields` are the host's own
// rather than a copy of them that could drift.
#include "args/defaults.hpp"
#include "host/errors.hpp"
#include "host/module_slots.hpp"
#include "host/names.hpp"
#include "support/overloaded.hpp"

namespace {

using host::Ref;
using host::require;
using host::require_status;

void set_item(const Ref& dict, const char* key, const Ref& value) {
  require_status(PyDict_SetItemString(dict.get(), key, value.get()));
}

Ref text(const char* value) { return require(PyUnicode_FromString(value)); }

Ref int_list(const args::IntList& list) {
  Ref result = require(PyList_New(static_cast<Py_ssize_t>(list.items.size())));
  Py_ssize_t index = 0;
  for (long item : list.items) {
    require_status(PyList_SetItem(result.get(), index++, require(PyLong_FromLong(item)).release()));
  }
  return result;
}

Ref model_id_map() {
  Ref result = require(PyDict_New());
  for (const args::ModelId& entry : args::model_ids) set_item(result, entry.name, text(entry.identifier));
  return result;
}

Ref host_value(const args::Default& value) {
  return std::visit(support::overloaded{
                        [](const char* s) { return text(s); },
                        [](long n) { return require(PyLong_FromLong(n)); },
                        [](bool flag) { return require(PyBool_FromLong(flag)); },
                        [](const args::IntList& list) { return int_list(list); },
                        [](args::ModelIds) { return model_id_map(); },
                    },
                    value);
}

constexpr const char* record_doc =
    "Settings of the lip-sync video step and the retrieval-augmented chat.\n\n"
    "Every field is optional, given by position or by keyword; an omitted one keeps its default.\n"
    "Nothing is validated or converted. crop, box, pads and model_id are class constants, not\n"
    "parameters: one list or dict shared by every record, so a change to one is seen by all.";

// What a class statement would hand to `type`: its bookkeeping names, the annotation map of all
// 25 names, then the defaults. The lists and the map made here are the ones every record shares.
Ref class_namespace() {
  Ref annotations = require(PyDict_New());
  for (const args::Entry& entry : args::entries) set_item(annotations, entry.name, text(entry.annotation));

  Ref result = require(PyDict_New());
  set_item(result, "__module__", text("ardo_old.args"));
  set_item(result, "__qualname__", text("Args"));
  set_item(result, "__doc__", text(record_doc));
  set_item(result, "__annotations__", annotations);
  for (const args::Entry& entry : args::entries) set_item(result, entry.name, host_value(entry.value));
  return result;
}

// `dataclass` resolves the "ClassVar[...]" texts through the namespace of the module named by
// `__module__` in `sys.modules`. Import registers this module there before running `exec_module`,
// and `ClassVar` is bound before this runs; without either, the class constants would become fields.
Ref make_record(const Ref& dataclass) {
  Ref name = text("Args");
  Ref bases = require(PyTuple_New(0));
  Ref namespace_ = class_namespace();
  Ref cls = require(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyType_Type), name.get(),
                                                 bases.get(), namespace_.get(), nullptr));
  return require(PyObject_CallFunctionObjArgs(dataclass.get(), cls.get(), nullptr));
}

int exec_module(PyObject* module) {
  return host::boundary_status([module] {
    Ref dataclass = host::import_from("dataclasses", "dataclass");
    host::bind(module, "dataclass", dataclass);
    host::bind(module, "ClassVar", host::import_from("typing", "ClassVar"));
    host::bind(module, "Dict", host::import_from("typing", "Dict"));
    host::bind(module, "Args", make_record(dataclass));
  });
}

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "ardo_old.args", "The run configuration record `Args` of the host's pipeline.",
    0, nullptr, host::module_slots<exec_module>, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_args() { return PyModuleDef_Init(&definition); }
