#include "psychometrics/battery_module.hpp"

#include "bridge/client.hpp"
#include "bridge/unlocked.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/objects.hpp"
#include "psychometrics/battery_pass.hpp"
#include "psychometrics/reliability.hpp"
#include "tables/builders.hpp"
#include "tables/host_answers.hpp"
#include "tables/host_arrow.hpp"
#include "tables/stream.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace battery_module {

namespace {

using host::PythonError;
using host::Ref;
using host::require;
namespace ps = psychometrics;

struct State {
  PyObject* matrix_type;
  PyObject* table_type;
};

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

// Opening would create an empty database where no file is; a statistic of a cohort refuses.
std::unique_ptr<mind::Battery> open_battery(PyObject* database) {
  bridge::ReportConverter converter;
  return bridge::read_battery(host::existing_file_path(database), converter);
}

// The clients' answers, a batch at a time: from a table of answers (a 2-D buffer, Arrow data),
// read without the lock, or from an iterable of clients as score_cohort takes them. A client whose
// answers cannot be taken is one whose scoring fails.
class ClientBatches {
 public:
  explicit ClientBatches(PyObject* answers) : table_(tables::answer_table(answers)) {
    if (!table_) iterator_ = require(PyObject_GetIter(answers));
  }
  ClientBatches(const ClientBatches&) = delete;
  ClientBatches& operator=(const ClientBatches&) = delete;
  ~ClientBatches() { table_.reset(); }  // under the lock, as answer_table requires

  // Under the lock: up to `rows` more clients; none once all are taken.
  std::vector<mind::Answers> next(std::size_t rows) {
    std::vector<mind::Answers> batch;
    batch.reserve(rows);
    if (table_) {
      take_rows(batch, rows);
    } else {
      take_clients(batch, rows);
    }
    return batch;
  }

 private:
  void take_rows(std::vector<mind::Answers>& batch, std::size_t rows) {
    std::vector<tables::RowAnswers> taken;
    std::optional<tables::Invalid> invalid;
    {
      host::ReleasedLock unlocked;
      try {
        table_->take(taken, rows);
      } catch (const tables::Invalid& failure) {
        invalid.emplace(failure);
      }
    }
    if (invalid) tables::raise_invalid(*invalid);
    for (tables::RowAnswers& row : taken) batch.push_back(std::move(row.answers));
  }

  void take_clients(std::vector<mind::Answers>& batch, std::size_t rows) {
    const bridge::ScoringOnThisThread scoring;
    while (iterator_ && batch.size() < rows) {
      Ref client = Ref::consuming(PyIter_Next(iterator_.get()));
      if (!client) {
        if (PyErr_Occurred()) throw PythonError{};
        iterator_ = Ref();
        break;
      }
      try {
        Ref responses = host::attribute(client.get(), "user_responses");
        batch.push_back(std::move(bridge::take_snapshot(responses.get()).answers));
      } catch (const PythonError&) {
        host::take_ordinary_error();  // leaves anything but an Exception set, for the caller
        if (PyErr_Occurred()) throw;
        batch.push_back(mind::Answers::unreadable());
      }
    }
  }

  std::unique_ptr<tables::AnswerTable> table_;
  Ref iterator_;
};

// Every batch of the clients through the pass, without the lock; `after(batch)` runs once a batch's
// parts are done, still without it. Ctrl-C is noticed between batches.
template <class Visit, class After>
void over_cohort(ps::BatteryPass& pass, ClientBatches& clients, const Visit& visit, const After& after) {
  for (;;) {
    const std::vector<mind::Answers> batch = clients.next(pass.batch_rows());
    if (batch.empty()) return;
    {
      host::ReleasedLock unlocked;
      pass.run(batch, visit);
      after(batch.size());
    }
    if (PyErr_CheckSignals() != 0) throw PythonError{};
  }
}

// The arguments (database, answers, *, threads=None) and the pass they ask for.
struct Cohort {
  std::unique_ptr<mind::Battery> battery;
  std::unique_ptr<ClientBatches> clients;
  std::unique_ptr<ps::BatteryPass> pass;
};

Cohort open_cohort(PyObject* database, PyObject* answers, PyObject* threads) {
  bridge::ScoringOnThisThread::refuse_if_running("a cohort's statistics");
  const std::size_t thread_total = host::thread_count(threads);
  Cohort cohort;
  cohort.clients = std::make_unique<ClientBatches>(answers);
  cohort.battery = open_battery(database);
  cohort.pass = std::make_unique<ps::BatteryPass>(*cohort.battery, thread_total);
  return cohort;
}

Ref integer(std::int64_t value) { return require(PyLong_FromLongLong(value)); }

Ref text(const std::string& value) {
  return require(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "surrogateescape"));
}

// --- integer matrices with the buffer protocol -------------------------------------------------

struct Matrix {
  std::vector<std::int64_t> values;  // row by row
  Py_ssize_t shape[2] = {0, 0};
  Py_ssize_t strides[2] = {0, 0};
  std::vector<std::int64_t> clients;  // the input position of each row
};

struct MatrixObject {
  PyObject_HEAD
  Matrix* matrix;
};

Matrix& matrix_of(PyObject* self) { return *reinterpret_cast<MatrixObject*>(self)->matrix; }

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
  if ((flags & PyBUF_WRITABLE) != 0) {
    PyErr_SetString(PyExc_BufferError, "the matrix is read-only");
    view->obj = nullptr;
    return -1;
  }
  Matrix& m = matrix_of(self);
  view->buf = m.values.data();
  view->obj = Py_NewRef(self);
  view->len = static_cast<Py_ssize_t>(m.values.size() * sizeof(std::int64_t));
  view->readonly = 1;
  view->itemsize = sizeof(std::int64_t);
  view->format = (flags & PyBUF_FORMAT) != 0 ? const_cast<char*>("q") : nullptr;
  view->ndim = 2;
  view->shape = (flags & PyBUF_ND) != 0 ? m.shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? m.strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void release_buffer(PyObject*, Py_buffer*) {}

PyObject* matrix_clients(PyObject* self, void*) {
  return host::boundary([&] {
    const Matrix& m = matrix_of(self);
    Ref list = require(PyList_New(0));
    for (const std::int64_t client : m.clients) host::require_status(PyList_Append(list.get(), integer(client).get()));
    return list.release();
  });
}

PyObject* matrix_shape(PyObject* self, void*) {
  const Matrix& m = matrix_of(self);
  return Py_BuildValue("(nn)", m.shape[0], m.shape[1]);
}

void matrix_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete std::exchange(reinterpret_cast<MatrixObject*>(self)->matrix, nullptr);
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);
}

PyGetSetDef matrix_attributes[] = {
    {"clients", matrix_clients, nullptr, "The position (from 0) among the clients given of each row's client.", nullptr},
    {"shape", matrix_shape, nullptr, "(rows, columns).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot matrix_slots[] = {
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(release_buffer)},
    {Py_tp_getset, matrix_attributes},
    {Py_tp_dealloc, reinterpret_cast<void*>(matrix_dealloc)},
    {Py_tp_doc, const_cast<char*>("A read-only matrix of 64-bit integers, a row per client that scored, with the buffer protocol.")},
    {0, nullptr},
};

PyType_Spec matrix_definition = {
    "ardo_old.psychometrics.ScoreMatrix",
    sizeof(MatrixObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    matrix_slots,
};

// One row per client that scored, `width` values each, in input order; `fill(classes, row)`
// writes a client's values. Each batch's rows are written in place by its parts, then the rows
// of the clients that scored are kept.
template <class Fill>
std::unique_ptr<Matrix> cohort_matrix(Cohort& cohort, std::size_t width, const Fill& fill) {
  auto m = std::make_unique<Matrix>();
  std::vector<std::int64_t> rows(cohort.pass->batch_rows() * width);
  std::vector<std::uint8_t> kept(cohort.pass->batch_rows());
  std::int64_t first = 0;
  const auto visit = [&](std::size_t, std::size_t row, const std::vector<std::uint8_t>& classes) {
    kept[row] = 1;
    fill(classes, std::span<std::int64_t>(rows.data() + row * width, width));
  };
  const auto keep = [&](std::size_t count) {
    for (std::size_t row = 0; row < count; ++row) {
      if (!std::exchange(kept[row], 0)) continue;
      const auto start = rows.begin() + static_cast<std::ptrdiff_t>(row * width);
      m->values.insert(m->values.end(), start, start + static_cast<std::ptrdiff_t>(width));
      m->clients.push_back(first + static_cast<std::int64_t>(row));
    }
    first += static_cast<std::int64_t>(count);
  };
  over_cohort(*cohort.pass, *cohort.clients, visit, keep);
  m->shape[0] = static_cast<Py_ssize_t>(m->clients.size());
  m->shape[1] = static_cast<Py_ssize_t>(width);
  m->strides[0] = static_cast<Py_ssize_t>(width * sizeof(std::int64_t));
  m->strides[1] = sizeof(std::int64_t);
  return m;
}

Ref matrix_object(PyObject* module, std::unique_ptr<Matrix> matrix) {
  Ref self = host::new_instance(state_of(module)->matrix_type);
  reinterpret_cast<MatrixObject*>(self.get())->matrix = matrix.release();
  return self;
}

// --- tables of results -------------------------------------------------------------------------

// A small table held whole, column by column.
struct Column {
  std::string name;
  tables::ColumnType type;
  std::vector<std::int64_t> integers;
  std::vector<std::optional<double>> reals;
  std::vector<std::optional<std::string>> texts;
};

struct Columns {
  std::vector<Column> columns;
  std::size_t rows = 0;
  tables::Metadata metadata;

  tables::TableLayout layout() const {
    tables::TableLayout layout{{}, metadata};
    for (const Column& c : columns) layout.columns.push_back({c.name, c.type});
    return layout;
  }
};

class ColumnsSource final : public tables::BatchSource {
 public:
  explicit ColumnsSource(std::shared_ptr<const Columns> data) : data_(std::move(data)) {}

  bool fill(tables::BatchBuilder& batch, std::int64_t max_rows) override {
    if (next_ == data_->rows) return false;
    const std::size_t end = std::min(data_->rows, next_ + static_cast<std::size_t>(max_rows));
    for (std::size_t c = 0; c < data_->columns.size(); ++c) {
      for (std::size_t row = next_; row < end; ++row) append(batch, c, row);
    }
    next_ = end;
    return true;
  }

 private:
  void append(tables::BatchBuilder& batch, std::size_t c, std::size_t row) const {
    const Column& column = data_->columns[c];
    switch (column.type) {
      case tables::ColumnType::Int64: batch.column<tables::Int64Builder>(c).append(column.integers[row]); return;
      case tables::ColumnType::Float64: {
        auto& builder = batch.column<tables::Float64Builder>(c);
        if (column.reals[row]) builder.append(*column.reals[row]); else builder.append_null();
        return;
      }
      case tables::ColumnType::Dictionary: {
        auto& builder = batch.column<tables::DictionaryBuilder>(c);
        if (column.texts[row]) builder.append(*column.texts[row]); else builder.append_null();
        return;
      }
      default: {
        auto& builder = batch.column<tables::BytesBuilder>(c);
        if (column.texts[row]) builder.append(*column.texts[row]); else builder.append_null();
        return;
      }
    }
  }

  std::shared_ptr<const Columns> data_;
  std::size_t next_ = 0;
};

class ColumnsExport final : public tables::TableExport {
 public:
  explicit ColumnsExport(std::shared_ptr<const Columns> data) : data_(std::move(data)) {}
  nanoarrow::UniqueSchema schema() override { return tables::make_schema(data_->layout()); }
  nanoarrow::UniqueArrayStream stream() override {
    constexpr std::int64_t batch_rows = 65536;
    return tables::make_stream(data_->layout(), std::make_unique<ColumnsSource>(data_), batch_rows);
  }

 private:
  std::shared_ptr<const Columns> data_;
};

// A statistic that is not a finite number (none of ours should be) is null.
std::optional<double> finite(const std::optional<double>& value) {
  return value && std::isfinite(*value) ? value : std::nullopt;
}

Column reals(const char* name) { return {name, tables::ColumnType::Float64, {}, {}, {}}; }
Column integers(const char* name) { return {name, tables::ColumnType::Int64, {}, {}, {}}; }
Column texts(const char* name, tables::ColumnType type) { return {name, type, {}, {}, {}}; }

// Item scores go into the exact sums as 16-bit scores; a scale whose points pass them has no
// statistics.
bool fits_scores(const mind::Scale& scale) {
  for (const mind::ScaleItem& item : scale.items) {
    for (const std::int32_t p : item.points) {
      if (p < std::numeric_limits<ps::Score>::min() || p > std::numeric_limits<ps::Score>::max()) return false;
    }
  }
  return true;
}

std::vector<ps::ScaleSums> gather_scale_sums(Cohort& cohort) {
  const auto& scales = cohort.pass->scales();
  std::vector<std::vector<ps::ScaleSums>> parts(cohort.pass->parts());
  for (auto& sums : parts) {
    for (const mind::Scale& scale : scales) sums.emplace_back(fits_scores(scale) ? scale.items.size() : 0);
  }
  std::vector<std::vector<ps::Score>> rows(cohort.pass->parts());
  over_cohort(*cohort.pass, *cohort.clients, [&](std::size_t part, std::size_t, const std::vector<std::uint8_t>& classes) {
    std::vector<ps::Score>& row = rows[part];
    for (std::size_t s = 0; s < scales.size(); ++s) {
      ps::ScaleSums& sums = parts[part][s];
      if (sums.items() != scales[s].items.size()) continue;
      row.resize(sums.items());
      for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<ps::Score>(mind::item_score(scales[s].items[i], classes));
      sums.add(row);
    }
  }, [](std::size_t) {});
  for (std::size_t part = 1; part < parts.size(); ++part) {
    for (std::size_t s = 0; s < scales.size(); ++s) parts[0][s].merge(parts[part][s]);
  }
  return std::move(parts[0]);
}

struct AnalysisTables {
  Columns scales;
  Columns items;
};

void add_scale_row(Columns& table, const std::string& name, const ps::ScaleStatistics& s) {
  auto& c = table.columns;
  c[0].texts.emplace_back(name);
  c[1].integers.push_back(static_cast<std::int64_t>(s.k));
  c[2].integers.push_back(s.n);
  for (const auto& [column, value] : {std::pair{3, s.mean}, {4, s.sd}, {5, s.alpha}, {6, s.alpha_low}, {7, s.alpha_high},
                                      {8, s.g6}, {9, s.average_r}, {10, s.sem}}) {
    c[column].reals.push_back(finite(value));
  }
  ++table.rows;
}

void add_item_rows(Columns& table, const std::string& name, const mind::Scale& scale, const ps::ScaleStatistics& s) {
  auto& c = table.columns;
  for (std::size_t i = 0; i < scale.items.size(); ++i) {
    const ps::ItemStatistics* item = i < s.items.size() ? &s.items[i] : nullptr;
    c[0].texts.emplace_back(name);
    c[1].integers.push_back(scale.items[i].position + 1);
    c[2].reals.push_back(item ? finite(item->mean) : std::nullopt);
    c[3].reals.push_back(item ? finite(item->sd) : std::nullopt);
    c[4].reals.push_back(item ? finite(item->r_drop) : std::nullopt);
    c[5].reals.push_back(item ? finite(item->alpha_if_dropped) : std::nullopt);
    c[6].texts.push_back(item && !item->flag.empty() ? std::optional(item->flag) : std::nullopt);
    ++table.rows;
  }
}

AnalysisTables analysis_tables(const std::vector<mind::Scale>& scales, const std::vector<ps::ScaleSums>& sums,
                               const tables::Metadata& metadata) {
  using tables::ColumnType;
  AnalysisTables t;
  t.scales.columns = {texts("scale", ColumnType::Utf8), integers("k"), integers("n"), reals("mean"), reals("sd"), reals("alpha"),
                      reals("alpha_low"), reals("alpha_high"), reals("g6"), reals("average_r"), reals("sem")};
  t.items.columns = {texts("scale", ColumnType::Dictionary), integers("question"), reals("mean"), reals("sd"), reals("r_drop"),
                     reals("alpha_if_dropped"), texts("flag", ColumnType::Dictionary)};
  t.scales.metadata = t.items.metadata = metadata;
  for (std::size_t s = 0; s < scales.size(); ++s) {
    ps::ScaleStatistics statistics;
    if (sums[s].items() == scales[s].items.size()) {
      statistics = ps::reliability(sums[s]);
    } else {
      statistics.k = scales[s].items.size();
    }
    add_scale_row(t.scales, scales[s].field.name, statistics);
    add_item_rows(t.items, scales[s].field.name, scales[s], statistics);
  }
  return t;
}

Ref value_at(const Column& column, std::size_t row) {
  switch (column.type) {
    case tables::ColumnType::Int64: return integer(column.integers[row]);
    case tables::ColumnType::Float64: return column.reals[row] ? require(PyFloat_FromDouble(*column.reals[row])) : Ref::owning(Py_None);
    default: return column.texts[row] ? text(*column.texts[row]) : Ref::owning(Py_None);
  }
}

// The rows as dicts, for a host without an Arrow library: the tables are small.
Ref rows_of(const Columns& table) {
  Ref rows = require(PyList_New(0));
  std::vector<Ref> names;
  for (const Column& column : table.columns) names.push_back(text(column.name));
  for (std::size_t row = 0; row < table.rows; ++row) {
    Ref dict = require(PyDict_New());
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
      host::require_status(PyDict_SetItem(dict.get(), names[c].get(), value_at(table.columns[c], row).get()));
    }
    host::require_status(PyList_Append(rows.get(), dict.get()));
  }
  return rows;
}

// The table as the module hands it out: its Arrow export wrapped with its rows.
Ref table_object(PyObject* module, PyObject* wrapper, Columns columns) {
  Ref rows = rows_of(columns);
  Ref table = tables::new_table(state_of(module)->table_type, std::make_unique<ColumnsExport>(std::make_shared<const Columns>(std::move(columns))));
  return host::call_method(wrapper, "ArrowTable", table.get(), rows.get());
}

// --- the functions -----------------------------------------------------------------------------

struct CohortArguments {
  PyObject* database = nullptr;
  PyObject* answers = nullptr;
  PyObject* scale = nullptr;
  PyObject* threads = nullptr;
};

CohortArguments parse_cohort(PyObject* args, PyObject* kwargs, const char* format, bool with_scale) {
  CohortArguments a;
  if (with_scale) {
    static const char* keywords[] = {"database", "answers", "scale", "threads", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &a.database, &a.answers, &a.scale, &a.threads)) {
      throw PythonError{};
    }
  } else {
    static const char* keywords[] = {"database", "answers", "threads", nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &a.database, &a.answers, &a.threads)) {
      throw PythonError{};
    }
  }
  return a;
}

const mind::Scale& scale_named(const std::vector<mind::Scale>& scales, PyObject* name) {
  if (!PyUnicode_Check(name)) {
    PyErr_SetString(PyExc_TypeError, "scale must be a str: the name of its field, such as 'Traits.Composure.score'");
    throw PythonError{};
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(name, &size);
  if (data == nullptr) throw PythonError{};
  const std::string_view wanted(data, static_cast<std::size_t>(size));
  for (const mind::Scale& scale : scales) {
    if (scale.field.name == wanted) return scale;
  }
  host::raise_with(PyExc_KeyError, name);
}

Ref questions_of(const mind::Scale& scale) {
  Ref questions = require(PyTuple_New(static_cast<Py_ssize_t>(scale.items.size())));
  for (std::size_t i = 0; i < scale.items.size(); ++i) {
    PyTuple_SetItem(questions.get(), static_cast<Py_ssize_t>(i), integer(scale.items[i].position + 1).release());
  }
  return questions;
}

Ref scale_dict(const mind::Scale& scale) {
  Ref points = require(PyTuple_New(static_cast<Py_ssize_t>(scale.items.size())));
  for (std::size_t i = 0; i < scale.items.size(); ++i) {
    const mind::ItemPoints& p = scale.items[i].points;
    Ref by_answer = require(Py_BuildValue("(iiii)", p[mind::plain_answer_class(1)], p[mind::plain_answer_class(2)],
                                          p[mind::plain_answer_class(3)], p[mind::plain_answer_class(4)]));
    PyTuple_SetItem(points.get(), static_cast<Py_ssize_t>(i), by_answer.release());
  }
  Ref dict = require(PyDict_New());
  const auto set = [&](const char* key, const Ref& value) { host::require_status(PyDict_SetItemString(dict.get(), key, value.get())); };
  set("scale", text(scale.field.name));
  set("questions", questions_of(scale));
  set("points", points);
  set("lowest", integer(scale.lowest));
  set("highest", integer(scale.highest));
  set("maximum", scale.maximum ? integer(*scale.maximum) : Ref::owning(Py_None));
  return dict;
}

}  // namespace

const Py_ssize_t state_size = sizeof(State);

int exec(PyObject* module) {
  return host::boundary_status([&] {
    State* state = state_of(module);
    state->matrix_type = require(PyType_FromModuleAndSpec(module, &matrix_definition, nullptr)).release();
    state->table_type = tables::new_table_type(module, "ardo_old.psychometrics.Table",
                                               "A table of results with the Arrow C stream interface (__arrow_c_stream__).")
                            .release();
  });
}

int traverse(PyObject* module, visitproc visit, void* arg) {
  if (State* state = state_of(module)) {
    Py_VISIT(state->matrix_type);
    Py_VISIT(state->table_type);
  }
  return 0;
}

int clear(PyObject* module) {
  if (State* state = state_of(module)) {
    Py_CLEAR(state->matrix_type);
    Py_CLEAR(state->table_type);
  }
  return 0;
}

PyObject* scales(PyObject*, PyObject* database) {
  return host::boundary([&] {
    const std::unique_ptr<mind::Battery> battery = open_battery(database);
    Ref list = require(PyList_New(0));
    for (const mind::Scale& scale : mind::battery_scales(battery->keys())) host::require_status(PyList_Append(list.get(), scale_dict(scale).get()));
    return list.release();
  });
}

PyObject* item_scores(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    const CohortArguments a = parse_cohort(args, kwargs, "OOO|$O:item_scores", true);
    Cohort cohort = open_cohort(a.database, a.answers, a.threads);
    const mind::Scale& scale = scale_named(cohort.pass->scales(), a.scale);
    auto matrix = cohort_matrix(cohort, scale.items.size(), [&](const std::vector<std::uint8_t>& classes, std::span<std::int64_t> row) {
      for (std::size_t i = 0; i < row.size(); ++i) row[i] = mind::item_score(scale.items[i], classes);
    });
    Ref questions = questions_of(scale);
    return require(PyTuple_Pack(2, questions.get(), matrix_object(module, std::move(matrix)).get())).release();
  });
}

PyObject* scale_totals(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    const CohortArguments a = parse_cohort(args, kwargs, "OO|$O:scale_totals", false);
    Cohort cohort = open_cohort(a.database, a.answers, a.threads);
    const auto& scales = cohort.pass->scales();
    auto matrix = cohort_matrix(cohort, scales.size(), [&](const std::vector<std::uint8_t>& classes, std::span<std::int64_t> row) {
      for (std::size_t s = 0; s < scales.size(); ++s) row[s] = mind::scale_total(scales[s], classes);
    });
    Ref names = require(PyTuple_New(static_cast<Py_ssize_t>(scales.size())));
    for (std::size_t s = 0; s < scales.size(); ++s) PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(s), text(scales[s].field.name).release());
    return require(PyTuple_Pack(2, names.get(), matrix_object(module, std::move(matrix)).get())).release();
  });
}

PyObject* item_analysis(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    const CohortArguments a = parse_cohort(args, kwargs, "OO|$O:item_analysis", false);
    Cohort cohort = open_cohort(a.database, a.answers, a.threads);
    std::vector<ps::ScaleSums> sums = gather_scale_sums(cohort);
    const std::int64_t scored = cohort.pass->scored();
    const std::int64_t failed = cohort.pass->failed();
    const tables::Metadata metadata = {{"clients", std::to_string(scored)}, {"failed", std::to_string(failed)}};
    AnalysisTables t = [&] {
      host::ReleasedLock unlocked;
      return analysis_tables(cohort.pass->scales(), sums, metadata);
    }();
    Ref wrapper = require(PyImport_ImportModule("ardo_old._arrow_table"));
    Ref scales_table = table_object(module, wrapper.get(), std::move(t.scales));
    Ref items_table = table_object(module, wrapper.get(), std::move(t.items));
    return host::call_method(wrapper.get(), "ItemAnalysis", scales_table.get(), items_table.get(), integer(scored).get(),
                             integer(failed).get())
        .release();
  });
}

psychometrics::NormGroup cohort_norms(PyObject* database, PyObject* answers, PyObject* threads, std::string name, std::string date) {
  Cohort cohort = open_cohort(database, answers, threads);
  const auto& scales = cohort.pass->scales();
  std::vector<std::vector<ps::TotalCounts>> parts(cohort.pass->parts(), std::vector<ps::TotalCounts>(scales.size()));
  over_cohort(*cohort.pass, *cohort.clients, [&](std::size_t part, std::size_t, const std::vector<std::uint8_t>& classes) {
    for (std::size_t s = 0; s < scales.size(); ++s) parts[part][s].add(mind::scale_total(scales[s], classes));
  }, [](std::size_t) {});
  if (cohort.pass->scored() == 0) {
    PyErr_SetString(PyExc_ValueError, "no client of the norm group scored: a norm group needs at least one");
    throw PythonError{};
  }
  ps::NormGroup group{std::move(name), std::move(date), {}};
  for (std::size_t s = 0; s < scales.size(); ++s) {
    for (std::size_t part = 1; part < parts.size(); ++part) parts[0][s].merge(parts[part][s]);
    group.scales.push_back(ps::scale_norm(scales[s].field.name, parts[0][s]));
  }
  return group;
}

}  // namespace battery_module
