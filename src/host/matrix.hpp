// A 2-D integer buffer of the host (the buffer protocol: signed or unsigned integers of 1 to 8 bytes,
// booleans too, contiguous or strided), held so that its rows can be read without the global lock.
#pragma once

#include "host/ref.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace host {

class IntegerMatrix {
 public:
  // `name` words the errors: TypeError for an object without a buffer or with elements other than
  // integers, ValueError for a buffer of other than two dimensions.
  IntegerMatrix(PyObject* object, const char* name);
  IntegerMatrix(const IntegerMatrix&) = delete;
  IntegerMatrix& operator=(const IntegerMatrix&) = delete;
  // Under the global lock.
  ~IntegerMatrix();

  std::size_t rows() const noexcept { return rows_; }
  std::size_t columns() const noexcept { return columns_; }
  // The values of one row, columns() of them, widened to 64 bits (an unsigned value above the
  // largest signed one reads as that largest one). Needs no lock.
  void read_row(std::size_t row, std::span<std::int64_t> values) const noexcept;

  using RowReader = void (*)(const char* first, Py_ssize_t stride, std::span<std::int64_t> values);

 private:
  Py_buffer view_{};
  std::size_t rows_ = 0;
  std::size_t columns_ = 0;
  RowReader reader_ = nullptr;
};

}  // namespace host
