#include "tables/host_answers.hpp"

#include "bridge/failures.hpp"
#include "bridge/number_answer.hpp"
#include "host/errors.hpp"
#include "tables/host_arrow.hpp"
#include "tables/integer_rows.hpp"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace tables {

using host::PythonError;
using host::Ref;
using host::require;

RowAnswers row_answers(std::span<const IntegerCell> cells) {
  RowAnswers row;
  std::vector<mind::Answer> answers;
  answers.reserve(cells.size());
  for (std::size_t p = 0; p < cells.size(); ++p) {
    const IntegerCell& cell = cells[p];
    // A null is None, which equals no number and is no key of the answer map.
    answers.push_back(cell.is_null ? mind::Answer{} : bridge::integer_answer(cell.bits));
    if (answers.back().entry == mind::Answer::NotFound) row.unusual.emplace_back(p, cell);
  }
  row.answers = mind::Answers(std::move(answers));
  return row;
}

RowAnswers null_row() { return {mind::Answers::unreadable(), {}, true}; }

Ref integer_object(const IntegerCell& cell) {
  return require(cell.is_unsigned ? PyLong_FromUnsignedLongLong(cell.bits) : PyLong_FromLongLong(cell.as_signed()));
}

Ref answer_value(const RowAnswers& row, std::size_t position) {
  const auto found = std::lower_bound(row.unusual.begin(), row.unusual.end(), position,
                                      [](const auto& kept, std::size_t p) { return kept.first < p; });
  if (found == row.unusual.end() || found->first != position) return require(PyLong_FromLong(row.answers.at(position).entry));
  const IntegerCell& cell = found->second;
  if (cell.is_null) return Ref::owning(Py_None);
  return integer_object(cell);
}

namespace {

// What mind's user_responses would be: a list of the row, or None for a null row. A failure needs
// only its shape, so an empty list stands for the list: its own errors are what the host raises.
class RowErrors final : public bridge::AnswerErrors {
 public:
  explicit RowErrors(const RowAnswers& row) : row_(row) {}

  void set(const mind::MissingAnswer& missing) const override {
    Ref index = require(PyLong_FromSize_t(missing.position));
    require(PyObject_GetItem(responses().get(), index.get()));
    throw std::logic_error("an answer said missing is there");
  }
  void set(const mind::AnswerFailed& failed) const override {
    if (failed.step == mind::AnswerStep::Iterate) {
      require(PyObject_GetIter(responses().get()));
      throw std::logic_error("answers said unreadable can be read");
    }
    host::raise_with(PyExc_KeyError, answer_value(row_, failed.position).get());
  }

 private:
  Ref responses() const { return row_.is_null ? Ref::owning(Py_None) : require(PyList_New(0)); }

  const RowAnswers& row_;
};

}  // namespace

void raise_run_failure(const mind::Failure& failure, const RowAnswers& row, bridge::ReportConverter& converter) {
  bridge::raise_failure(failure.reason(), converter, RowErrors(row));
}

void raise_invalid(const Invalid& invalid) {
  PyErr_SetString(PyExc_ValueError, invalid.what());
  throw PythonError{};
}

namespace {

class ArrowAnswers final : public AnswerTable {
 public:
  explicit ArrowAnswers(nanoarrow::UniqueArrayStream stream) : reader_(std::move(stream)), rows_(reader_) {}

  std::size_t take(std::vector<RowAnswers>& out, std::size_t max) override {
    std::size_t taken = 0;
    while (taken < max && !done_) {
      if (next_ == reader_.rows()) {
        done_ = !reader_.next();
        next_ = 0;
        continue;
      }
      out.push_back(rows_.read(next_++, cells_) ? row_answers(cells_) : null_row());
      ++taken;
    }
    return taken;
  }

 private:
  TableReader reader_;
  IntegerRows rows_;
  std::int64_t next_ = 0;
  bool done_ = false;
  std::vector<IntegerCell> cells_;
};

// Whether a buffer format's items are unsigned, for an integer letter in this machine's byte
// order; nothing for any other format.
std::optional<bool> unsigned_items(const char* format) {
  if (format == nullptr) return true;  // unsigned bytes
  if (*format == '@' || *format == '=' || *format == '<') ++format;
  if (std::strlen(format) != 1 || std::strchr("bBhHiIlLqQnN", *format) == nullptr) return std::nullopt;
  return *format >= 'A' && *format <= 'Z';
}

class MatrixAnswers final : public AnswerTable {
 public:
  explicit MatrixAnswers(PyObject* object) {
    host::require_status(PyObject_GetBuffer(object, &buffer_, PyBUF_RECORDS_RO));
    try {
      describe();
    } catch (...) {
      PyBuffer_Release(&buffer_);
      throw;
    }
  }
  ~MatrixAnswers() override { PyBuffer_Release(&buffer_); }

  std::size_t take(std::vector<RowAnswers>& out, std::size_t max) override {
    std::size_t taken = 0;
    for (; taken < max && next_ < matrix_.rows; ++taken, ++next_) {
      matrix_.read(next_, cells_);
      out.push_back(row_answers(cells_));
    }
    return taken;
  }
  const IntegerMatrix* matrix() const override { return &matrix_; }

 private:
  void describe() {
    if (buffer_.ndim != 2) {
      PyErr_Format(PyExc_ValueError, "a buffer of answers must have 2 dimensions (clients, questions), not %d", buffer_.ndim);
      throw PythonError{};
    }
    const std::optional<bool> is_unsigned = unsigned_items(buffer_.format);
    if (!is_unsigned || (buffer_.itemsize != 1 && buffer_.itemsize != 2 && buffer_.itemsize != 4 && buffer_.itemsize != 8)) {
      PyErr_Format(PyExc_TypeError, "a buffer of answers must hold integers in this machine's byte order, not format '%s'",
                   buffer_.format == nullptr ? "B" : buffer_.format);
      throw PythonError{};
    }
    matrix_ = {static_cast<const std::byte*>(buffer_.buf), buffer_.shape[0], buffer_.shape[1], buffer_.strides[0],
               buffer_.strides[1], static_cast<int>(buffer_.itemsize), *is_unsigned};
  }

  Py_buffer buffer_{};
  IntegerMatrix matrix_;
  std::int64_t next_ = 0;
  std::vector<IntegerCell> cells_;
};

}  // namespace

std::unique_ptr<AnswerTable> answer_table(PyObject* answers) {
  if (auto stream = import_arrow(answers)) {
    try {
      return std::make_unique<ArrowAnswers>(std::move(*stream));
    } catch (const Invalid& invalid) {
      raise_invalid(invalid);
    }
  }
  if (PyObject_CheckBuffer(answers)) return std::make_unique<MatrixAnswers>(answers);
  return nullptr;
}

}  // namespace tables
