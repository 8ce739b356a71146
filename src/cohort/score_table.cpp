// A cohort's results as an Arrow table: the clients' answers are taken a flight at a time, scored
// and written into record batches on the pool's threads without the lock, and the client ids and
// errors of each batch added under it, in client order, while the next flight scores.
#include "cohort/score_table.hpp"

#include "bridge/unlocked.hpp"
#include "cohort/clients.hpp"
#include "cohort/result_table.hpp"
#include "cohort/table_measures.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/objects.hpp"
#include "pool/pool.hpp"
#include "tables/host_answers.hpp"
#include "tables/host_arrow.hpp"
#include "tables/stream.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace cohort {

namespace {

using cohort_table::ResultBatch;
using cohort_table::ResultLayout;
using host::PythonError;
using host::Ref;
using host::require;
using tables::ColumnType;

// A batch (one item of the pool's work) should take about this long to score, so that Ctrl-C,
// noticed between flights, ends a run within a fraction of a second on any database; the first
// flights, before their cost is known, take few rows.
constexpr double item_seconds = 0.01;
constexpr std::size_t first_item_rows = 256;
constexpr std::size_t max_item_rows = 65536;
// Items per thread in a flight: spare items let a thread that finishes early take more, and the
// calling thread, which takes the next flight and completes the last one while the helpers score,
// still finds items left when it comes to help (with two a thread, the helper had taken them all
// by then, and two threads ran at 1.25 times one).
constexpr std::size_t items_per_thread = 8;
// Clients' answers taken in one flight at most: each answer kept takes 11 bytes.
constexpr std::size_t flight_answers = std::size_t{1} << 22;

[[noreturn]] void type_error(const char* message) {
  PyErr_SetString(PyExc_TypeError, message);
  throw PythonError{};
}

// --- client ids ----------------------------------------------------------------------------------

ColumnType id_type_of(PyObject* id) {
  if (id == Py_None) return ColumnType::Null;
  if (PyUnicode_Check(id)) return ColumnType::Utf8;
  if (PyBytes_Check(id)) return ColumnType::Binary;
  if (!PyBool_Check(id) && PyIndex_Check(id)) return ColumnType::Int64;
  host::raise_naming_type(PyExc_TypeError, "a client id in a table must be an int, str, bytes or None, not %U", id);
}

// An id of the host appended to a column of the type of the first id that was not None.
void append_id(tables::ColumnBuilder& column, ColumnType type, PyObject* id) {
  if (id == Py_None) return column.append_null();
  if (id_type_of(id) != type) {
    host::raise_naming_type(PyExc_TypeError, "the client ids in a table must be of one type: an id of type %U follows ids of another", id);
  }
  switch (type) {
    case ColumnType::Int64: {
      Ref number = require(PyNumber_Index(id));
      const long long value = PyLong_AsLongLong(number.get());
      if (value == -1 && PyErr_Occurred()) throw PythonError{};
      return static_cast<tables::Int64Builder&>(column).append(value);
    }
    case ColumnType::Utf8: {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(id, &size);
      if (data == nullptr) throw PythonError{};
      return static_cast<tables::BytesBuilder&>(column).append({data, static_cast<std::size_t>(size)});
    }
    default: {
      char* data = nullptr;
      Py_ssize_t size = 0;
      host::require_status(PyBytes_AsStringAndSize(id, &data, &size));
      return static_cast<tables::BytesBuilder&>(column).append({data, static_cast<std::size_t>(size)});
    }
  }
}

// The ids of an Arrow column, read whole: they are few beside the results.
struct ArrowIds {
  ColumnType type = ColumnType::Null;
  std::vector<std::optional<std::int64_t>> integers;
  std::vector<std::optional<std::string>> texts;

  std::size_t size() const { return type == ColumnType::Int64 ? integers.size() : texts.size(); }

  void append(tables::ColumnBuilder& column, std::size_t row) const {
    if (type == ColumnType::Int64 ? !integers[row] : !texts[row]) return column.append_null();
    if (type == ColumnType::Int64) return static_cast<tables::Int64Builder&>(column).append(*integers[row]);
    static_cast<tables::BytesBuilder&>(column).append(*texts[row]);
  }
};

ArrowIds read_arrow_ids(nanoarrow::UniqueArrayStream stream) {
  ArrowIds ids;
  tables::TableReader reader(std::move(stream));
  if (reader.columns() != 1) throw tables::Invalid("client_ids must be one column, not " + std::to_string(reader.columns()));
  const tables::ColumnReader& column = reader.column(0);
  switch (column.kind()) {
    case tables::ValueKind::Integer: ids.type = ColumnType::Int64; break;
    case tables::ValueKind::Text: ids.type = ColumnType::Utf8; break;
    case tables::ValueKind::Bytes: ids.type = ColumnType::Binary; break;
    case tables::ValueKind::Null: ids.type = ColumnType::Utf8; break;
    default: throw tables::Invalid("client_ids must hold integers, texts or bytes");
  }
  while (reader.next()) {
    for (std::int64_t row = 0; row < reader.rows(); ++row) {
      const bool is_null = column.kind() == tables::ValueKind::Null || column.is_null(row) || reader.row_is_null(row);
      if (ids.type != ColumnType::Int64) {
        ids.texts.push_back(is_null ? std::nullopt : std::optional<std::string>(column.bytes(row)));
        continue;
      }
      const tables::IntegerCell cell = column.integer(row);
      if (!is_null && cell.is_unsigned && cell.bits > static_cast<std::uint64_t>(INT64_MAX)) {
        throw tables::Invalid("a client id of " + std::to_string(cell.bits) + " does not fit 64-bit integers");
      }
      ids.integers.push_back(is_null ? std::nullopt : std::optional<std::int64_t>(cell.as_signed()));
    }
  }
  return ids;
}

// --- the run ------------------------------------------------------------------------------------

// A flight of clients: their answers, and the batches their results are written into.
struct Flight {
  std::size_t first = 0;  // the position of its first client in the run
  std::vector<tables::RowAnswers> rows;  // from a table of answers
  std::vector<Client> clients;           // or from an iterable of clients
  std::vector<std::optional<mind::Failure>> failures;
  std::vector<mind::DiagnosticLines> lines;

  struct Item {
    std::size_t first;
    std::size_t end;
    std::unique_ptr<ResultBatch> batch;
    double seconds = 0;
  };
  std::vector<Item> items;
  std::unique_ptr<pool::Batch> work;

  std::size_t size() const { return clients.empty() ? rows.size() : clients.size(); }
  const mind::Answers* answers(std::size_t row) const {
    if (clients.empty()) return &rows[row].answers;
    return clients[row].snapshot ? &clients[row].snapshot->answers : nullptr;
  }
};

class TableRun {
 public:
  TableRun(PyObject* module, PyObject* answers, PyObject* client_ids, PyObject* database, std::size_t threads, bool quality,
           PyObject* norms)
      : module_(module), converter_(*state_of(module)->converter) {
    table_ = tables::answer_table(answers);
    if (!table_) clients_ = require(PyObject_GetIter(answers));
    take_ids(client_ids);
    battery_ = bridge::read_battery(host::existing_file_path(database), converter_);
    if (quality || (norms != nullptr && norms != Py_None)) measures_.emplace(battery_->keys(), quality, norms, threads);
    scratch_.resize(threads);
    pool_ = std::make_unique<pool::Pool>(threads - 1);
    threads_ = threads;
  }
  TableRun(const TableRun&) = delete;
  TableRun& operator=(const TableRun&) = delete;
  // The helpers end with the item at hand and are waited for, without the lock, before what they use goes.
  ~TableRun() {
    host::ReleasedLock unlocked;
    pool_.reset();
  }

  // Every client scored, in order. The flights are the run's own, so that on any failure the
  // helpers are stopped before what they score goes.
  void run() {
    scoring_ = take_flight();
    while (scoring_) {
      next_ = take_flight();
      {
        host::ReleasedLock unlocked;
        pool_->finish(*scoring_->work);
      }
      if (PyErr_CheckSignals() != 0) throw PythonError{};
      complete(*scoring_);
      scoring_ = std::move(next_);
    }
    if (measures_ && measures_->quality()) {
      {
        host::ReleasedLock unlocked;
        measures_->append_quality(held_, threads_);
      }
      for (auto& batch : held_) batches_.push_back(batch->builder.finish());
      held_.clear();
    }
    const std::size_t given = arrow_ids_ ? arrow_ids_->size() : ids_size_;
    if ((arrow_ids_ || ids_) && given != rows_) {
      PyErr_Format(PyExc_ValueError, "client_ids has %zu ids for %zu clients", given, rows_);
      throw PythonError{};
    }
  }

  // The table of the results.
  Ref table() {
    if (!layout_) make_layout(id_type_.value_or(ColumnType::Int64));
    Ref table = tables::new_table(state_of(module_)->table_type,
                                  std::make_unique<Export>(tables::make_schema(layout_->layout()), std::make_shared<const tables::Batches>(std::move(batches_))));
    Ref wrapper = require(PyImport_ImportModule("ardo_old._arrow_table"));
    Ref rows = require(PyLong_FromSize_t(rows_));
    return host::call_method(wrapper.get(), "ScoreTable", table.get(), rows.get());
  }

 private:
  class Export final : public tables::TableExport {
   public:
    Export(nanoarrow::UniqueSchema schema, std::shared_ptr<const tables::Batches> batches)
        : schema_(std::move(schema)), batches_(std::move(batches)) {}
    nanoarrow::UniqueSchema schema() override {
      nanoarrow::UniqueSchema copy;
      tables::check(ArrowSchemaDeepCopy(schema_.get(), copy.get()), "copying a schema");
      return copy;
    }
    nanoarrow::UniqueArrayStream stream() override { return tables::share_stream(*schema_.get(), batches_); }

   private:
    nanoarrow::UniqueSchema schema_;
    std::shared_ptr<const tables::Batches> batches_;
  };

  void take_ids(PyObject* client_ids) {
    if (client_ids == nullptr || client_ids == Py_None) {
      if (table_) id_type_ = ColumnType::Int64;  // numbered; from an iterable, the clients' own
      return;
    }
    if (auto stream = tables::import_arrow(client_ids)) {
      try {
        arrow_ids_ = read_arrow_ids(std::move(*stream));
      } catch (const tables::Invalid& invalid) {
        tables::raise_invalid(invalid);
      }
      id_type_ = arrow_ids_->type;
      return;
    }
    if (PyUnicode_Check(client_ids) || PyBytes_Check(client_ids) || !PySequence_Check(client_ids)) {
      type_error("client_ids must be a sequence of ids or an Arrow column");
    }
    ids_ = Ref::owning(client_ids);
    const Py_ssize_t size = PySequence_Size(client_ids);
    if (size < 0) throw PythonError{};
    ids_size_ = static_cast<std::size_t>(size);
    for (Py_ssize_t i = 0; i < size && !id_type_; ++i) {
      Ref id = require(PySequence_GetItem(client_ids, i));
      if (id.get() != Py_None) id_type_ = id_type_of(id.get());
    }
    if (!id_type_) id_type_ = ColumnType::Null;
  }

  // Takes the next flight's clients and queues its scoring; none once every client is taken.
  std::unique_ptr<Flight> take_flight() {
    auto flight = std::make_unique<Flight>();
    flight->first = taken_;
    const std::size_t wanted = item_rows_ * items_per_thread * threads_;
    if (const tables::IntegerMatrix* matrix = table_ ? table_->matrix() : nullptr) {
      // Only counted here: the threads that score the rows read them (see read_rows).
      flight->rows.resize(std::min(wanted, static_cast<std::size_t>(matrix->rows) - taken_));
    } else if (table_) {
      std::optional<tables::Invalid> invalid;
      {
        host::ReleasedLock unlocked;
        try {
          table_->take(flight->rows, wanted);
        } catch (const tables::Invalid& failure) {
          invalid.emplace(failure);
        }
      }
      if (invalid) tables::raise_invalid(*invalid);
    } else {
      std::size_t answers = 0;
      while (clients_ && flight->clients.size() < wanted && answers < flight_answers) {
        Ref object = Ref::consuming(PyIter_Next(clients_.get()));
        if (!object) {
          if (PyErr_Occurred()) throw PythonError{};
          clients_ = Ref();
          break;
        }
        const Client& c = flight->clients.emplace_back(take_client(object.get()));
        if (c.snapshot) answers += c.snapshot->objects.size();
      }
      if (!flight->clients.empty()) flight->lines.resize(flight->clients.size());
    }
    const std::size_t size = flight->size();
    if (size == 0) return nullptr;
    taken_ += size;
    if (!layout_) make_layout(first_id_type(*flight));
    flight->failures.resize(size);
    for (std::size_t first = 0; first < size; first += item_rows_) {
      const std::size_t end = std::min(size, first + item_rows_);
      flight->items.push_back({first, end, layout_->start_batch(static_cast<std::int64_t>(end - first))});
      if (measures_) measures_->start(*flight->items.back().batch);
    }
    Flight* f = flight.get();
    flight->work = std::make_unique<pool::Batch>(f->items.size(), [this, f](std::size_t item, std::size_t worker) { score(*f, f->items[item], worker); });
    pool_->submit(*flight->work);
    return flight;
  }

  // The columns of the results, and those of the measures asked for after them.
  void make_layout(ColumnType id_type) {
    layout_.emplace(battery_->keys(), id_type);
    if (measures_) measures_->add_columns(*layout_);
  }

  // The id column's type, once the first flight's clients are there to tell it.
  ColumnType first_id_type(const Flight& flight) {
    if (!id_type_) {
      for (const Client& c : flight.clients) {
        if (c.client_id && c.client_id.get() != Py_None) {
          id_type_ = id_type_of(c.client_id.get());
          break;
        }
      }
    }
    return id_type_.value_or(ColumnType::Null);
  }

  // Without the lock, on any of the pool's threads.
  void score(Flight& flight, Flight::Item& item, std::size_t worker) {
    mind::Scores& scores = scratch_[worker];
    const auto start = std::chrono::steady_clock::now();
    if (const tables::IntegerMatrix* matrix = table_ ? table_->matrix() : nullptr) read_rows(*matrix, flight, item);
    for (std::size_t row = item.first; row < item.end; ++row) {
      const mind::Answers* answers = flight.answers(row);
      std::optional<mind::Failure> failure;
      if (answers != nullptr) failure = battery_->score(*answers, scores);
      if (!flight.lines.empty()) flight.lines[row] = scores.lines;
      // A client whose diagnostic lines fail to print still has its scores written: its error,
      // added under the lock, is what it gives.
      if (answers == nullptr || failure) {
        layout_->append_no_scores(*item.batch);
      } else {
        layout_->append_scores(*item.batch, scores);
      }
      if (measures_) measures_->append_norms(*item.batch, answers == nullptr || failure ? nullptr : answers, worker);
      // The answers of a row that scored are not needed again, unless the measures keep them: they
      // go here, on the thread that read them, not on the calling thread, which has the lock to hold.
      if (!failure && !measures_ && !flight.rows.empty()) flight.rows[row] = {};
      flight.failures[row] = std::move(failure);
    }
    item.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // An item's rows of a buffer of answers, read by the thread that scores them: reading the rows
  // on the calling thread alone took a sixth of the run's time and kept two threads from twice
  // one's speed.
  static void read_rows(const tables::IntegerMatrix& matrix, Flight& flight, const Flight::Item& item) {
    std::vector<tables::IntegerCell> cells;
    for (std::size_t row = item.first; row < item.end; ++row) {
      matrix.read(static_cast<std::int64_t>(flight.first + row), cells);
      flight.rows[row] = tables::row_answers(cells);
    }
  }

  // Under the lock: the ids and errors of a scored flight, and its batches kept, in order.
  void complete(Flight& flight) {
    const mind::Keys& keys = battery_->keys();
    Ref codec = require(PyImport_ImportModule("ardo_old._table_codec"));
    double seconds = 0;
    for (Flight::Item& item : flight.items) {
      tables::BatchBuilder& b = item.batch->builder;
      auto& id = b.column<tables::ColumnBuilder>(cohort_table::id_column);
      auto& type = b.column<tables::BytesBuilder>(cohort_table::error_type_column);
      auto& message = b.column<tables::BytesBuilder>(cohort_table::error_message_column);
      auto& detail = b.column<tables::BytesBuilder>(cohort_table::error_detail_column);
      for (std::size_t row = item.first; row < item.end; ++row) {
        append_client_id(id, flight, row);
        if (measures_) keep_answers(flight, row);
        Ref error = client_error_of(flight, row, keys);
        if (!error) {
          type.append_null();
          message.append_null();
          detail.append_null();
          continue;
        }
        Ref described = host::call_method(codec.get(), "describe", error.get());
        append_text(type, PyTuple_GetItem(described.get(), 0));
        append_text(message, PyTuple_GetItem(described.get(), 1));
        append_text(detail, PyTuple_GetItem(described.get(), 2));
      }
      if (measures_ && measures_->quality()) {
        held_.push_back(std::move(item.batch));  // until the cohort's quality is known
      } else {
        batches_.push_back(b.finish());
        item.batch.reset();
      }
      seconds += item.seconds;
    }
    rows_ += flight.size();
    const double per_row = seconds / static_cast<double>(flight.size());
    const double wanted = per_row > 0 ? item_seconds / per_row : static_cast<double>(max_item_rows);
    item_rows_ = static_cast<std::size_t>(std::clamp(wanted, static_cast<double>(first_item_rows), static_cast<double>(max_item_rows)));
  }

  void keep_answers(const Flight& flight, std::size_t row) {
    if (flight.answers(row) == nullptr || flight.failures[row]) return measures_->keep_none();
    if (flight.clients.empty()) return measures_->keep(flight.rows[row]);
    measures_->keep(*flight.clients[row].snapshot);
  }

  Ref client_error_of(Flight& flight, std::size_t row, const mind::Keys& keys) {
    if (!flight.clients.empty()) return client_error(flight.clients[row], keys, flight.lines[row], flight.failures[row], converter_);
    if (!flight.failures[row]) return Ref();
    try {
      tables::raise_run_failure(*flight.failures[row], flight.rows[row], converter_);
    } catch (const PythonError&) {
      return host::take_raised();
    }
  }

  void append_client_id(tables::ColumnBuilder& column, const Flight& flight, std::size_t row) {
    const std::size_t position = flight.first + row;
    const ColumnType type = layout_->layout().columns[cohort_table::id_column].type;
    if (arrow_ids_) {
      if (position < arrow_ids_->size()) return arrow_ids_->append(column, position);
      return column.append_null();  // too few ids: the run fails at its end
    }
    if (ids_) {
      if (position >= ids_size_) return column.append_null();
      Ref id = require(PySequence_GetItem(ids_.get(), static_cast<Py_ssize_t>(position)));
      return append_id(column, type, id.get());
    }
    if (!flight.clients.empty()) {
      const Client& c = flight.clients[row];
      return append_id(column, type, c.client_id ? c.client_id.get() : Py_None);
    }
    static_cast<tables::Int64Builder&>(column).append(static_cast<std::int64_t>(position));
  }

  static void append_text(tables::BytesBuilder& column, PyObject* text) {
    if (text == Py_None) return column.append_null();
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) throw PythonError{};
    column.append({data, static_cast<std::size_t>(size)});
  }

  PyObject* module_;
  bridge::ReportConverter& converter_;
  std::unique_ptr<tables::AnswerTable> table_;
  Ref clients_;
  Ref ids_;
  std::size_t ids_size_ = 0;
  std::optional<ArrowIds> arrow_ids_;
  std::optional<ColumnType> id_type_;
  std::unique_ptr<mind::Battery> battery_;
  std::optional<ResultLayout> layout_;
  std::optional<TableMeasures> measures_;
  std::vector<std::unique_ptr<ResultBatch>> held_;
  std::vector<mind::Scores> scratch_;  // one per worker
  std::size_t threads_ = 1;
  std::size_t item_rows_ = first_item_rows;
  std::size_t taken_ = 0;
  std::size_t rows_ = 0;
  tables::Batches batches_;
  std::unique_ptr<Flight> scoring_;
  std::unique_ptr<Flight> next_;
  std::unique_ptr<pool::Pool> pool_;
};

}  // namespace

PyObject* score_table(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    static const char* keywords[] = {"database", "answers", "client_ids", "threads", "quality", "norms", nullptr};
    PyObject* database = nullptr;
    PyObject* answers = nullptr;
    PyObject* client_ids = nullptr;
    PyObject* threads = nullptr;
    int quality = 0;
    PyObject* norms = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$OOpO:score_table", const_cast<char**>(keywords), &database, &answers, &client_ids,
                                     &threads, &quality, &norms)) {
      throw PythonError{};
    }
    bridge::ScoringOnThisThread::refuse_if_running("score_table()");
    const std::size_t thread_total = host::thread_count(threads, max_threads);
    TableRun run(module, answers, client_ids, database, thread_total, quality != 0, norms);
    run.run();
    return run.table().release();
  });
}

}  // namespace cohort
