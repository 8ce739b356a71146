#include "bridge/report.hpp"

#include <variant>

namespace bridge {

using host::Ref;
using host::require;
using host::require_status;

Ref ReportConverter::to_python(const mind::Value& value) {
  return std::visit([this](const auto& data) { return convert(data); }, value.data());
}

void ReportConverter::add_entries(PyObject* dict, const mind::Map& map) {
  for (const mind::Entry& entry : map) require_status(PyDict_SetItem(dict, key(entry.key), to_python(entry.value).get()));
}

Ref ReportConverter::convert(std::nullptr_t) { return Ref::owning(Py_None); }

Ref ReportConverter::convert(std::int64_t v) { return require(PyLong_FromLongLong(v)); }

Ref ReportConverter::convert(double v) { return require(PyFloat_FromDouble(v)); }

Ref ReportConverter::convert(const mind::Text& t) {
  return require(PyUnicode_DecodeUTF8(t.value.data(), static_cast<Py_ssize_t>(t.value.size()), nullptr));
}

Ref ReportConverter::convert(const mind::Bytes& b) {
  return require(PyBytes_FromStringAndSize(b.value.data(), static_cast<Py_ssize_t>(b.value.size())));
}

Ref ReportConverter::convert(const mind::List& items) {
  Ref out = require(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    require_status(PyList_SetItem(out.get(), static_cast<Py_ssize_t>(i), to_python(items[i]).release()));
  }
  return out;
}

Ref ReportConverter::convert(const mind::Map& map) {
  Ref out = require(PyDict_New());
  add_entries(out.get(), map);
  return out;
}

PyObject* ReportConverter::key(std::string_view text) {
  if (const auto found = keys_.find(text); found != keys_.end()) return found->second.get();
  Ref made = require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
  return keys_.emplace(std::string(text), std::move(made)).first->second.get();
}

}  // namespace bridge
