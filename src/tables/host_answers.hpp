// Clients' answers from a table, as mind takes them from `user_responses=list(row)`: taken from the
// host once, under the lock, then read row by row without it.
#pragma once

#include "bridge/report.hpp"
#include "host/ref.hpp"
#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "tables/integer_rows.hpp"
#include "tables/reading.hpp"

#include <cstddef>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace tables {

// One row's answers, each judged as mind judges an int (a null as None), with the values that are
// not 1 to 4 kept, so that an error naming one (KeyError(5), KeyError(None)) can be rebuilt.
struct RowAnswers {
  mind::Answers answers;
  std::vector<std::pair<std::size_t, IntegerCell>> unusual;  // by position, ascending
  bool is_null = false;
};

// Needs no host call. A row that is null as a whole is `None` to mind: its answers cannot be walked.
RowAnswers row_answers(std::span<const IntegerCell> cells);
RowAnswers null_row();

// Under the lock: an integer cell as the host's int (its nullness is the caller's to judge).
host::Ref integer_object(const IntegerCell& cell);

// Under the lock: the host's value of answer `position`, an int or None.
host::Ref answer_value(const RowAnswers& row, std::size_t position);

// Under the lock: raises the host's own error for a failed run of these answers, the one mind
// raises for `list(row)` (or for None, when the row is null).
[[noreturn]] void raise_run_failure(const mind::Failure& failure, const RowAnswers& row, bridge::ReportConverter& converter);

// The rows of a table of answers, in order.
class AnswerTable {
 public:
  virtual ~AnswerTable() = default;
  // Appends up to `max` more rows to `out`; returns how many, 0 once none is left. Runs without the
  // lock; throws Invalid for Arrow input that cannot be read.
  virtual std::size_t take(std::vector<RowAnswers>& out, std::size_t max) = 0;
  // A buffer's rows, which any thread may read at once, in any order, without the lock, so that
  // the threads that score them can read them too; nothing for a stream, read in order by take.
  virtual const IntegerMatrix* matrix() const { return nullptr; }
};

// Under the lock: the answers of any object exporting Arrow data (__arrow_c_stream__ or
// __arrow_c_array__: one integer column per question, or one list column), or of a 2-D integer
// buffer; nullptr, with no error set, for any other object. TypeError or ValueError for such an
// object whose data cannot be answers. The table is destroyed under the lock too.
std::unique_ptr<AnswerTable> answer_table(PyObject* answers);

// Under the lock: ValueError with the message of `invalid`.
[[noreturn]] void raise_invalid(const Invalid& invalid);

}  // namespace tables
