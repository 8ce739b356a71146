#include "host/output.hpp"

#include "host/ref.hpp"

namespace host {

void write_stdout(PyObject* text) {
  PyObject* out = PySys_GetObject("stdout");  // borrowed
  if (out == nullptr || out == Py_None) return;
  Ref keep = Ref::owning(out);  // the call below may replace sys.stdout
  Ref method = require(PyUnicode_FromString("write"));
  require(PyObject_CallMethodObjArgs(keep.get(), method.get(), text, nullptr));
}

}  // namespace host
