#include "host/report.hpp"

#include <variant>

namespace host {

namespace {

Ref text(const std::string& s) { return require(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr)); }

Ref list(const mind::List& items) {
  Ref out = require(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    require_status(PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), to_python(items[i]).release()));
  }
  return out;
}

Ref dict(const mind::Map& map) {
  Ref out = require(PyDict_New());
  add_entries(out.get(), map);
  return out;
}

struct Convert {
  Ref operator()(std::nullptr_t) const { return Ref::owning(Py_None); }
  Ref operator()(std::int64_t v) const { return require(PyLong_FromLongLong(v)); }
  Ref operator()(double v) const { return require(PyFloat_FromDouble(v)); }
  Ref operator()(const mind::Text& t) const { return text(t.value); }
  Ref operator()(const mind::Bytes& b) const {
    return require(PyBytes_FromStringAndSize(b.value.data(), static_cast<Py_ssize_t>(b.value.size())));
  }
  Ref operator()(const mind::List& l) const { return list(l); }
  Ref operator()(const mind::Map& m) const { return dict(m); }
};

}  // namespace

Ref to_python(const mind::Value& value) { return std::visit(Convert{}, value.data()); }

void add_entries(PyObject* out, const mind::Map& map) {
  for (const mind::Entry& entry : map) {
    Ref key = require(PyUnicode_FromStringAndSize(entry.key.data(), static_cast<Py_ssize_t>(entry.key.size())));
    require_status(PyDict_SetItem(out, key.get(), to_python(entry.value).get()));
  }
}

}  // namespace host
