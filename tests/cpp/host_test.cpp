// The tables as the host meets them, with the real pyarrow, polars and numpy in an embedded
// interpreter: tables exported to their consumers and read back after Parquet, IPC, other string
// encodings and polars; answers from buffers and Arrow input as mind takes them from list(row);
// the host's own errors of those answers; input that is not answers.
#include "check.hpp"
#include "generated_table.hpp"
#include "host/errors.hpp"
#include "tables/host_answers.hpp"
#include "tables/host_arrow.hpp"

#include <Python.h>

namespace {

using host::Ref;

// Python statements run in one namespace; an exception fails the check and is printed.
class Namespace {
 public:
  Namespace() : globals_(host::require(PyDict_New())) {
    PyDict_SetItemString(globals_.get(), "__builtins__", PyEval_GetBuiltins());
  }
  void run(const char* code) {
    Ref result = Ref::consuming(PyRun_String(code, Py_file_input, globals_.get(), globals_.get()));
    if (!result) PyErr_Print();
    CHECK(result);
  }
  PyObject* operator[](const char* name) const { return PyDict_GetItemString(globals_.get(), name); }
  void set(const char* name, const Ref& value) { PyDict_SetItemString(globals_.get(), name, value.get()); }

 private:
  Ref globals_;
};

class GeneratedExport final : public tables::TableExport {
 public:
  explicit GeneratedExport(bool* released = nullptr) : released_(released) {}
  nanoarrow::UniqueSchema schema() override { return tables::make_schema(generated::layout); }
  nanoarrow::UniqueArrayStream stream() override {
    return tables::make_stream(generated::layout, std::make_unique<Watched>(released_), 7);
  }

 private:
  // Tells when a stream let go of its source.
  struct Watched final : tables::BatchSource {
    explicit Watched(bool* flag) : released(flag) {}
    ~Watched() override {
      if (released != nullptr) *released = true;
    }
    bool fill(tables::BatchBuilder& batch, std::int64_t max_rows) override { return rows.fill(batch, max_rows); }
    bool* released;
    generated::Generated rows{50};
  };
  bool* released_;
};

Ref table_object(std::unique_ptr<tables::TableExport> source) {
  static Ref module = host::require(PyModule_New("probe"));
  static Ref type = tables::new_table_type(module.get(), "probe.Table", nullptr);
  return tables::new_table(type.get(), std::move(source));
}

TEST_CASE(tables_reach_every_consumer_and_read_back_after_parquet_ipc_and_polars) {
  Namespace py;
  py.set("result", table_object(std::make_unique<GeneratedExport>()));
  py.run(R"(
import io
import polars as pl
import pyarrow as pa
import pyarrow.ipc as ipc
import pyarrow.parquet as pq

table = pa.table(result)
assert pa.table(result).num_rows == 50, "each export is a fresh stream"
assert pa.schema(result) == table.schema
assert table.num_rows == 50 and table["level"].num_chunks == 8
assert pa.types.is_dictionary(table.schema.field("level").type)

def parquet(t):
    sink = io.BytesIO()
    pq.write_table(t, sink, row_group_size=9)
    return pq.read_table(io.BytesIO(sink.getvalue()))

def ipc_file(t):
    sink = io.BytesIO()
    # The dictionary grows from batch to batch, so the file takes it as deltas.
    with ipc.new_file(sink, t.schema, options=ipc.IpcWriteOptions(emit_dictionary_deltas=True)) as writer:
        writer.write_table(t, max_chunksize=4)
    return ipc.open_file(io.BytesIO(sink.getvalue())).read_all()

def other_encodings(t):
    types = {"text": pa.string_view(), "level": pa.large_string(), "blob": pa.binary_view()}
    fields = [pa.field(f.name, types.get(f.name, f.type)) for f in t.schema]
    return t.cast(pa.schema(fields, metadata=t.schema.metadata))

routes = [table, parquet(table), ipc_file(table), other_encodings(table), pl.DataFrame(result)]
)");
  PyObject* routes = py["routes"];
  if (routes == nullptr) return;
  for (Py_ssize_t i = 0; i < PyList_Size(routes); ++i) {
    std::optional<nanoarrow::UniqueArrayStream> stream = tables::import_arrow(PyList_GetItem(routes, i));
    CHECK_AT(stream, "route " + std::to_string(i));
    if (!stream) continue;
    try {
      tables::TableReader reader(std::move(*stream));
      const bool from_polars = i == 4;  // polars keeps no schema metadata
      CHECK_AT(generated::check_table(reader, !from_polars) == 50, "route " + std::to_string(i));
    } catch (const tables::Invalid& e) {
      CHECK_AT(false, "route " + std::to_string(i) + ": " + e.what());
    }
  }
}

TEST_CASE(an_export_that_no_consumer_took_lets_go_of_its_source) {
  bool released = false;
  Namespace py;
  py.set("result", table_object(std::make_unique<GeneratedExport>(&released)));
  py.run("capsule = result.__arrow_c_stream__(requested_schema=None)");
  CHECK(!released);
  py.run("del capsule");
  CHECK(released);
}

}  // namespace

namespace {

// All of a table's rows, read without the lock as a run reads them.
std::vector<tables::RowAnswers> all_rows(tables::AnswerTable& table) {
  std::vector<tables::RowAnswers> rows;
  host::ReleasedLock unlocked;
  while (table.take(rows, 16) != 0) {}
  return rows;
}

// Row by row and answer by answer, the table must give what `list(row)` gives: the same int or
// None, judged as mind judges it.
void check_answers(PyObject* answers, PyObject* expected, const std::string& input) {
  std::unique_ptr<tables::AnswerTable> table = tables::answer_table(answers);
  CHECK_AT(table, input);
  if (!table) return PyErr_Clear();
  const std::vector<tables::RowAnswers> rows = all_rows(*table);
  CHECK_AT(static_cast<Py_ssize_t>(rows.size()) == PyList_Size(expected), input);
  for (std::size_t r = 0; r < rows.size() && static_cast<Py_ssize_t>(r) < PyList_Size(expected); ++r) {
    const std::string at = input + " row " + std::to_string(r);
    PyObject* row = PyList_GetItem(expected, static_cast<Py_ssize_t>(r));
    CHECK_AT(rows[r].is_null == (row == Py_None), at);
    if (row == Py_None) continue;
    CHECK_AT(rows[r].answers.walk() == static_cast<std::size_t>(PyList_Size(row)), at);
    for (std::size_t p = 0; p < rows[r].answers.walk(); ++p) {
      PyObject* value = PyList_GetItem(row, static_cast<Py_ssize_t>(p));
      const Ref got = tables::answer_value(rows[r], p);
      CHECK_AT(Py_TYPE(got.get()) == Py_TYPE(value) && PyObject_RichCompareBool(got.get(), value, Py_EQ) == 1, at);
      const long v = value == Py_None ? 0 : PyLong_AsLong(value);
      if (v == -1) PyErr_Clear();  // too large for long: no answer 1 to 4
      const int entry = v >= 1 && v <= 4 ? static_cast<int>(v) : 0;
      CHECK_AT(rows[r].answers.at(p).entry == entry && rows[r].answers.at(p).equal == (entry ? 1u << (entry - 1) : 0u), at);
    }
  }
}

TEST_CASE(answers_from_buffers_and_arrow_are_what_mind_takes_from_list_row) {
  Namespace py;
  py.run(R"(
import numpy as np
import polars as pl
import pyarrow as pa

rng = np.random.default_rng(7)
base = rng.integers(-2, 7, size=(40, 8))
widths = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64"]
inputs = []

def with_extremes(values, dtype):
    info = np.iinfo(dtype)
    values = np.clip(values, info.min, info.max).astype(dtype)
    values[0], values[1] = info.max, info.min
    return values

for dtype in widths:
    m = with_extremes(base.copy(), dtype)  # rows 0 and 1: the extremes
    view = m[::3, ::-1]  # strided, one stride negative
    inputs.append((dtype, view, [[int(v) for v in row] for row in view]))

# One column of each width with its extremes and nulls, in chunks that are slices.
columns = {f"q{i}": pa.array(with_extremes(base[:, i].copy(), t), mask=(np.arange(40) + i) % 7 == 3)
           for i, t in enumerate(widths)}
table = pa.table(columns)
table = pa.concat_tables([table.slice(0, 15), table.slice(17)])
rows_of = lambda t: [None if row is None else list(row.values()) for row in t.to_pylist()]
inputs.append(("columns of every width in two chunks", table, rows_of(table)))
inputs.append(("polars", pl.DataFrame(table), rows_of(table)))
# A struct array with null entries, sliced: its offset holds for its fields too.
struct = pa.StructArray.from_arrays([c.chunk(0) for c in table.combine_chunks().columns], list(columns), mask=pa.array(np.arange(38) % 9 == 5))
inputs.append(("a sliced struct array", struct.slice(3), rows_of(struct.slice(3))))
lists = pa.array([None if r % 9 == 4 else [int(v) for v in base[r, : r % 6]] for r in range(40)], pa.large_list(pa.int64()))
inputs.append(("a sliced large_list array", lists.slice(3), lists.slice(3).to_pylist()))
in_struct = pa.StructArray.from_arrays([lists.cast(pa.list_(pa.int8()))], ["answers"]).slice(2)
inputs.append(("a sliced struct of a list column", in_struct, [row["answers"] for row in in_struct.to_pylist()]))
)");
  PyObject* inputs = py["inputs"];
  if (inputs == nullptr) return;
  CHECK(PyList_Size(inputs) == 13);
  for (Py_ssize_t i = 0; i < PyList_Size(inputs); ++i) {
    PyObject* input = PyList_GetItem(inputs, i);
    check_answers(PyTuple_GetItem(input, 1), PyTuple_GetItem(input, 2), PyUnicode_AsUTF8(PyTuple_GetItem(input, 0)));
  }
}

TEST_CASE(failures_are_the_host_errors_of_list_row) {
  Namespace py;
  py.run(R"(
import operator

def raised(f):
    try:
        f()
    except Exception as e:
        return e
row = [5, None, 2]
expected = [raised(lambda: {1: 1, 2: 2, 3: 3, 4: 4}[row[0]]), raised(lambda: {1: 1, 2: 2, 3: 3, 4: 4}[row[1]]),
            raised(lambda: row[3]), raised(lambda: iter(None)), raised(lambda: operator.getitem(None, 0))]
)");
  const tables::IntegerCell cells[] = {{5, false, false}, {0, false, true}, {2, true, false}};
  const tables::RowAnswers row = tables::row_answers(cells);
  const tables::RowAnswers null_row = tables::null_row();
  const std::pair<mind::Reason, const tables::RowAnswers*> failures[] = {
      {mind::AnswerFailed{0, mind::AnswerStep::Lookup}, &row},
      {mind::AnswerFailed{1, mind::AnswerStep::Lookup}, &row},
      {mind::MissingAnswer{3}, &row},
      {mind::AnswerFailed{0, mind::AnswerStep::Iterate}, &null_row},
      {mind::MissingAnswer{0}, &null_row},
  };
  bridge::ReportConverter converter;
  PyObject* expected = py["expected"];
  if (expected == nullptr) return;
  for (std::size_t i = 0; i < std::size(failures); ++i) {
    try {
      tables::raise_run_failure(mind::Failure(failures[i].first), *failures[i].second, converter);
    } catch (const host::PythonError&) {
      const Ref error = host::take_raised();
      PyObject* want = PyList_GetItem(expected, static_cast<Py_ssize_t>(i));
      const Ref got_args = host::require(PyObject_GetAttrString(error.get(), "args"));
      const Ref want_args = host::require(PyObject_GetAttrString(want, "args"));
      CHECK_AT(Py_TYPE(error.get()) == Py_TYPE(want) && PyObject_RichCompareBool(got_args.get(), want_args.get(), Py_EQ) == 1,
               "failure " + std::to_string(i));
    }
  }
}

TEST_CASE(inputs_that_are_not_answers_are_refused) {
  Namespace py;
  py.run(R"(
import numpy as np
import pyarrow as pa
refused = [(np.zeros((2, 2)), TypeError, "not format 'd'"),
           (np.zeros(3, dtype=np.int8), ValueError, "must have 2 dimensions (clients, questions), not 1"),
           (np.zeros((2, 2), dtype=">i4"), TypeError, "in this machine's byte order"),
           (pa.table({"a": [1.5]}), ValueError, "column a does not hold integers: double")]
)");
  PyObject* refused = py["refused"];
  if (refused == nullptr) return;
  for (Py_ssize_t i = 0; i < PyList_Size(refused); ++i) {
    PyObject* item = PyList_GetItem(refused, i);
    const std::string at = "refusal " + std::to_string(i);
    try {
      tables::answer_table(PyTuple_GetItem(item, 0));
      CHECK_AT(false, at);
    } catch (const host::PythonError&) {
      const Ref error = host::take_raised();
      const Ref text = host::require(PyObject_Str(error.get()));
      CHECK_AT(PyErr_GivenExceptionMatches(error.get(), PyTuple_GetItem(item, 1)), at);
      CHECK_AT(std::string(PyUnicode_AsUTF8(text.get())).find(PyUnicode_AsUTF8(PyTuple_GetItem(item, 2))) != std::string::npos,
               at + ": " + PyUnicode_AsUTF8(text.get()));
    }
  }
  Ref plain = host::require(PyList_New(0));
  CHECK(tables::answer_table(plain.get()) == nullptr && !PyErr_Occurred());
}

}  // namespace
