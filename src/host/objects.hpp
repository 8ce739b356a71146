// Allocation and release of instances of our own heap types (types made from a PyType_Spec).
#pragma once

#include "host/ref.hpp"

namespace host {

// A new, zeroed instance of a heap type, through the type's own allocator.
inline Ref new_instance(PyObject* type) {
  auto* heap_type = reinterpret_cast<PyTypeObject*>(type);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(heap_type, Py_tp_alloc));
  return require(alloc(heap_type, 0));
}

// tp_dealloc of a garbage-collected heap type whose tp_clear drops every reference it holds.
// Instances own a reference to their heap type, released last.
template <inquiry clear>
void gc_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  clear(self);
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);
}

}  // namespace host
