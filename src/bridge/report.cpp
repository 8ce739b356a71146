#include "bridge/report.hpp"

#include <cstdint>
#include <variant>

namespace bridge {

using host::Ref;
using host::require;
using host::require_status;

Ref ReportConverter::to_python(const mind::Value& value) {
  return std::visit([this](const auto& data) { return convert(data); }, value.data());
}

void ReportConverter::add_entries(PyObject* dict, const mind::Map& map) {
  for (const mind::Entry& entry : map) require_status(PyDict_SetItem(dict, key(entry.key).get(), to_python(entry.value).get()));
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

Ref ReportConverter::key(std::string_view text) {
  const std::uint64_t address = reinterpret_cast<std::uintptr_t>(text.data()) + text.size();
  Recent& slot = recent_[(address * 0x9E3779B97F4A7C15u) >> 56];  // one of 256, by Fibonacci hashing
  if (slot.data == text.data() && slot.text != nullptr && *slot.text == text) return Ref::owning(slot.string);
  auto found = keys_.find(text);
  if (found == keys_.end()) {
    Ref made = require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (keys_.size() >= max_kept) return made;
    found = keys_.emplace(std::string(text), std::move(made)).first;
  }
  slot = {text.data(), &found->first, found->second.get()};
  return Ref::owning(slot.string);
}

}  // namespace bridge
