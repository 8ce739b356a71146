#include "host/matrix.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <limits>
#include <string_view>
#include <type_traits>

namespace host {

namespace {

template <class T>
void read_elements(const char* first, Py_ssize_t stride, std::span<std::int64_t> values) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    T element;
    std::memcpy(&element, first + static_cast<Py_ssize_t>(i) * stride, sizeof element);
    if constexpr (std::is_unsigned_v<T> && sizeof(T) == 8) {
      values[i] = static_cast<std::int64_t>(std::min<T>(element, std::numeric_limits<std::int64_t>::max()));
    } else {
      values[i] = static_cast<std::int64_t>(element);
    }
  }
}

template <class Signed, class Unsigned>
IntegerMatrix::RowReader reader_for(bool is_signed) {
  return is_signed ? read_elements<Signed> : read_elements<Unsigned>;
}

// The reader for a struct-module format of one integer in native byte order, or none. The size
// comes from the buffer's itemsize, which also covers the standard sizes of '=' and '<'.
IntegerMatrix::RowReader reader_of(std::string_view format, Py_ssize_t size) {
  if (!format.empty() && (format.front() == '@' || format.front() == '=' || format.front() == '<')) format.remove_prefix(1);
  if (format.size() != 1) return nullptr;
  const std::string_view signed_codes = "bhilqn";
  const std::string_view unsigned_codes = "BHILQN?";
  const bool is_signed = signed_codes.find(format.front()) != std::string_view::npos;
  if (!is_signed && unsigned_codes.find(format.front()) == std::string_view::npos) return nullptr;
  switch (size) {
    case 1: return reader_for<std::int8_t, std::uint8_t>(is_signed);
    case 2: return reader_for<std::int16_t, std::uint16_t>(is_signed);
    case 4: return reader_for<std::int32_t, std::uint32_t>(is_signed);
    case 8: return reader_for<std::int64_t, std::uint64_t>(is_signed);
    default: return nullptr;
  }
}

}  // namespace

static_assert(std::endian::native == std::endian::little, "'<' is read as native order");

IntegerMatrix::IntegerMatrix(PyObject* object, const char* name) {
  if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    Ref type = require(PyType_GetName(Py_TYPE(object)));
    PyErr_Format(PyExc_TypeError, "%s must be a 2-D integer buffer (such as a numpy array), not %U", name, type.get());
    throw PythonError{};
  }
  if (view_.ndim != 2) {
    const int dimensions = view_.ndim;
    PyBuffer_Release(&view_);
    PyErr_Format(PyExc_ValueError, "%s must have 2 dimensions (clients, items), not %d", name, dimensions);
    throw PythonError{};
  }
  reader_ = reader_of(view_.format != nullptr ? view_.format : "B", view_.itemsize);
  if (reader_ == nullptr) {
    const std::string format = view_.format;
    PyBuffer_Release(&view_);
    PyErr_Format(PyExc_TypeError, "%s must hold integers, not elements of format '%s'", name, format.c_str());
    throw PythonError{};
  }
  rows_ = static_cast<std::size_t>(view_.shape[0]);
  columns_ = static_cast<std::size_t>(view_.shape[1]);
}

IntegerMatrix::~IntegerMatrix() { PyBuffer_Release(&view_); }

void IntegerMatrix::read_row(std::size_t row, std::span<std::int64_t> values) const noexcept {
  const char* first = static_cast<const char*>(view_.buf) + static_cast<Py_ssize_t>(row) * view_.strides[0];
  reader_(first, view_.strides[1], values.first(columns_));
}

}  // namespace host
