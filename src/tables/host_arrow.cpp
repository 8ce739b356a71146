#include "tables/host_arrow.hpp"

#include "host/errors.hpp"
#include "host/objects.hpp"

#include <utility>
#include <vector>

namespace tables {

using host::PythonError;
using host::Ref;
using host::require;

namespace {

constexpr const char* stream_capsule = "arrow_array_stream";
constexpr const char* schema_capsule = "arrow_schema";
constexpr const char* array_capsule = "arrow_array";

// The struct a capsule points to, moved out so that the producer's destructor leaves it alone.
template <class Struct>
void take_struct(PyObject* capsule, const char* name, Struct* out) {
  auto* held = static_cast<Struct*>(PyCapsule_GetPointer(capsule, name));
  if (held == nullptr) throw PythonError{};
  if (held->release == nullptr) {
    PyErr_Format(PyExc_ValueError, "the %s capsule was already consumed", name);
    throw PythonError{};
  }
  *out = *held;
  held->release = nullptr;
}

nanoarrow::UniqueArrayStream stream_of_array(PyObject* exported) {
  if (!PyTuple_Check(exported) || PyTuple_Size(exported) != 2) {
    PyErr_SetString(PyExc_TypeError, "__arrow_c_array__() must return a tuple of two capsules");
    throw PythonError{};
  }
  nanoarrow::UniqueSchema schema;
  nanoarrow::UniqueArray array;
  take_struct(PyTuple_GetItem(exported, 0), schema_capsule, schema.get());
  take_struct(PyTuple_GetItem(exported, 1), array_capsule, array.get());
  std::vector<nanoarrow::UniqueArray> arrays;
  arrays.push_back(std::move(array));
  nanoarrow::UniqueArrayStream stream;
  nanoarrow::VectorArrayStream(schema.get(), std::move(arrays)).ToArrayStream(stream.get());
  return stream;
}

// `object.name()`, or nothing when the object has no such attribute.
Ref call_if_present(PyObject* object, const char* name) {
  Ref method = Ref::consuming(PyObject_GetAttrString(object, name));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PythonError{};
    PyErr_Clear();
    return method;
  }
  return require(PyObject_CallNoArgs(method.get()));
}

}  // namespace

std::optional<nanoarrow::UniqueArrayStream> import_arrow(PyObject* object) {
  if (Ref capsule = call_if_present(object, "__arrow_c_stream__")) {
    nanoarrow::UniqueArrayStream stream;
    take_struct(capsule.get(), stream_capsule, stream.get());
    return stream;
  }
  if (Ref exported = call_if_present(object, "__arrow_c_array__")) return stream_of_array(exported.get());
  return std::nullopt;
}

namespace {

struct TableObject {
  PyObject_HEAD
  TableExport* source;
};

TableExport& source_of(PyObject* self) { return *reinterpret_cast<TableObject*>(self)->source; }

// A capsule's destructor releases only a struct that no consumer took.
template <class Struct>
void destroy_capsule(PyObject* capsule, const char* name) {
  auto* held = static_cast<Struct*>(PyCapsule_GetPointer(capsule, name));
  if (held == nullptr) {
    PyErr_WriteUnraisable(capsule);
    return;
  }
  if (held->release != nullptr) held->release(held);
  delete held;
}

void destroy_stream_capsule(PyObject* capsule) { destroy_capsule<ArrowArrayStream>(capsule, stream_capsule); }
void destroy_schema_capsule(PyObject* capsule) { destroy_capsule<ArrowSchema>(capsule, schema_capsule); }

template <class Struct>
Ref capsule_of(Struct* owned, const char* name, PyCapsule_Destructor destructor) {
  auto* held = new Struct;
  *held = *owned;
  owned->release = nullptr;
  Ref capsule = Ref::consuming(PyCapsule_New(held, name, destructor));
  if (!capsule) {
    held->release(held);
    delete held;
    throw PythonError{};
  }
  return capsule;
}

PyObject* export_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__", const_cast<char**>(keywords), &requested)) {
      throw PythonError{};
    }
    nanoarrow::UniqueArrayStream stream = source_of(self).stream();
    return capsule_of(stream.get(), stream_capsule, destroy_stream_capsule).release();
  });
}

PyObject* export_schema(PyObject* self, PyObject*) {
  return host::boundary([&] {
    nanoarrow::UniqueSchema schema = source_of(self).schema();
    return capsule_of(schema.get(), schema_capsule, destroy_schema_capsule).release();
  });
}

PyMethodDef table_methods[] = {
    {"__arrow_c_stream__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(export_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\n"
     "A fresh Arrow C stream of the table's record batches, in a capsule named \"arrow_array_stream\"."},
    {"__arrow_c_schema__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(export_schema)), METH_NOARGS,
     "__arrow_c_schema__()\n--\n\n"
     "The table's Arrow schema, in a capsule named \"arrow_schema\"."},
    {nullptr, nullptr, 0, nullptr},
};

int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (TableExport* source = reinterpret_cast<TableObject*>(self)->source) return source->traverse(visit, arg);
  return 0;
}

int clear(PyObject* self) {
  delete std::exchange(reinterpret_cast<TableObject*>(self)->source, nullptr);
  return 0;
}

}  // namespace

Ref new_table_type(PyObject* module, const char* qualified_name, const char* doc) {
  PyType_Slot slots[] = {
      {Py_tp_methods, table_methods},
      {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
      {Py_tp_clear, reinterpret_cast<void*>(clear)},
      {Py_tp_dealloc, reinterpret_cast<void*>(host::gc_dealloc<clear>)},
      {Py_tp_doc, const_cast<char*>(doc)},
      {0, nullptr},
  };
  PyType_Spec definition = {
      qualified_name,
      sizeof(TableObject),
      0,
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
      slots,
  };
  return require(PyType_FromModuleAndSpec(module, &definition, nullptr));
}

Ref new_table(PyObject* type, std::unique_ptr<TableExport> source) {
  Ref self = host::new_instance(type);
  reinterpret_cast<TableObject*>(self.get())->source = source.release();
  return self;
}

}  // namespace tables
