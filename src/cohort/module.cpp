// Many clients against one read of the database: the tables are read once, each batch of clients
// has its answers taken under the global lock, is scored on helper threads without it, and gets its
// reports or the host's own errors built under it again, in client order.
#include "bridge/client.hpp"
#include "cohort/clients.hpp"
#include "cohort/score_table.hpp"
#include "bridge/report.hpp"
#include "bridge/unlocked.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/module_slots.hpp"
#include "host/objects.hpp"
#include "mind/run.hpp"
#include "pool/pool.hpp"
#include "tables/host_arrow.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using host::PythonError;
using host::Ref;
using host::require;

// Clients taken from the source at a time: enough to keep the helpers busy between two visits of
// the lock holder, few enough that the two batches in flight stay a small, steady working set
// (on the sample database, 1,024 a batch cost about 20 MiB more than 256 and kept growing with
// two threads). A batch also ends once its clients' answers pass a bound, so that clients with
// long answer lists (each answer kept takes 11 bytes) hold tens of MiB in flight, not gigabytes.
constexpr std::size_t batch_size = 256;
constexpr std::size_t batch_answers = std::size_t{1} << 20;

using cohort::Client;
using cohort::state_of;

// What mind gives this client: its report, or the error it raises.
Ref result_of(Client& c, const mind::Keys& keys, bridge::ReportConverter& converter) {
  if (Ref error = cohort::client_error(c, keys, c.result.scores.lines, c.result.failure, converter)) return error;
  return bridge::report_of(c.client_id.get(), c.result.sections, converter);
}

// A batch of clients and the scoring of those whose answers were taken. Never moves, since the
// pool holds it while helpers score it.
struct Flight {
  std::vector<Client> clients;
  std::vector<Client*> scored;  // those whose answers were taken
  pool::Batch batch;

  Flight(std::vector<Client> taken, const mind::Battery& battery)
      : clients(std::move(taken)), scored(with_answers(clients)), batch(scored.size(), [this, &battery](std::size_t i, std::size_t worker) {
          Client& c = *scored[i];
          c.result = mind::result_of(battery, c.snapshot->answers);
          c.scorer = worker;
        }) {}

  static std::vector<Client*> with_answers(std::vector<Client>& clients) {
    std::vector<Client*> scored;
    scored.reserve(clients.size());
    for (Client& c : clients) {
      if (c.snapshot) scored.push_back(&c);
    }
    return scored;
  }

  // The results that helpers made go back to them to be freed.
  void recycle(pool::Pool& helpers) {
    std::vector<std::vector<mind::Result>> spent(helpers.helpers());
    for (Client* c : scored) {
      if (c->scorer > 0) spent[c->scorer - 1].push_back(std::move(c->result));
    }
    for (std::size_t h = 0; h < spent.size(); ++h) {
      if (spent[h].empty()) continue;
      auto results = std::make_shared<std::vector<mind::Result>>(std::move(spent[h]));
      helpers.post(h + 1, [results] { results->clear(); });
    }
  }
};

// A cohort run in progress. Two batches are in flight: while helpers score the one taken last,
// the thread holding the lock hands out the results of the one before, each built when it is asked
// for, so that the host holds no more reports than it keeps.
struct Cohort {
  std::unique_ptr<mind::Battery> battery;
  Ref module;
  Ref source;
  Ref source_error;  // raised once the results of the clients taken before it are all out
  std::unique_ptr<Flight> current;  // scored; its results go out in order
  std::size_t position = 0;
  std::unique_ptr<Flight> scoring;
  std::unique_ptr<pool::Pool> pool;  // stopped first, before what its helpers read goes
  bool running = false;

  ~Cohort() { end(); }

  // Once every result is out, or the run failed, the helpers and the tables are let go at once;
  // the helpers are waited for without the lock, which other threads may want meanwhile. In a
  // forked child, the batch the helpers were scoring may be half written: it is left as it is.
  void end() {
    if (pool && !pool->started_here()) static_cast<void>(scoring.release());
    if (pool) {
      host::ReleasedLock unlocked;
      pool.reset();
    }
    current.reset();
    scoring.reset();
    source = Ref();
    battery.reset();
  }

  // The next result in client order; none once the run is over.
  Ref next_result() {
    try {
      while (!current || position == current->clients.size()) {
        if (!source && !scoring) return finish_run();
        advance();
      }
    } catch (...) {
      end();
      throw;
    }
    return result_of(current->clients[position++], battery->keys(), *state_of(module.get())->converter);
  }

  Ref finish_run() {
    end();
    if (!source_error) return Ref();
    PyErr_SetRaisedException(source_error.release());
    throw PythonError{};
  }

  // The batch handed out is let go, the next one taken and queued, and the one scoring finished.
  void advance() {
    if (current) current->recycle(*pool);
    current = std::exchange(scoring, take_batch());
    position = 0;
    if (!current) return;
    {
      host::ReleasedLock unlocked;
      pool->finish(current->batch);
    }
    // A list of clients runs no host code that would notice Ctrl-C between batches.
    if (PyErr_CheckSignals() != 0) throw PythonError{};
  }

  // Takes clients up to a batch; an error of the source ends the source.
  std::unique_ptr<Flight> take_batch() {
    std::vector<Client> clients;
    std::size_t answers = 0;
    while (source && clients.size() < batch_size && answers < batch_answers) {
      Ref object = Ref::consuming(PyIter_Next(source.get()));
      if (object) {
        const Client& c = clients.emplace_back(cohort::take_client(object.get()));
        if (c.snapshot) answers += c.snapshot->objects.size();
        continue;
      }
      if (PyErr_Occurred()) source_error = host::take_ordinary_error();
      source = Ref();
    }
    if (clients.empty()) return nullptr;
    auto flight = std::make_unique<Flight>(std::move(clients), *battery);
    pool->submit(flight->batch);
    return flight;
  }
};

struct CohortIterator {
  PyObject_HEAD
  Cohort* cohort;
};

Cohort* cohort_of(PyObject* self) { return reinterpret_cast<CohortIterator*>(self)->cohort; }

// Taking clients runs host code and scoring lets go of the lock, so a call can reach the iterator
// again, from this thread or another; it is refused, as a running generator refuses it.
PyObject* next(PyObject* self) {
  return host::boundary([&]() -> PyObject* {
    Cohort* c = cohort_of(self);
    if (c == nullptr) return nullptr;
    if (c->running) {
      PyErr_SetString(PyExc_ValueError, "the cohort iterator is already running");
      throw PythonError{};
    }
    if (c->pool && !c->pool->started_here()) {
      PyErr_SetString(PyExc_RuntimeError, "the cohort iterator was started in another process; start a new one in this process");
      throw PythonError{};
    }
    bridge::ScoringOnThisThread::refuse_if_running("next() of a cohort iterator");
    struct Running {
      bool& flag;
      ~Running() { flag = false; }
    };
    c->running = true;
    const Running running{c->running};
    return c->next_result().release();
  });
}

int traverse_flight(const Flight* flight, visitproc visit, void* arg) {
  if (flight == nullptr) return 0;
  for (const Client& c : flight->clients) {
    Py_VISIT(c.client_id.get());
    Py_VISIT(c.user_responses.get());
    Py_VISIT(c.error.get());
    if (!c.snapshot) continue;
    for (const Ref& answer : c.snapshot->objects) Py_VISIT(answer.get());
    for (const bridge::KeptError& kept : c.snapshot->errors) Py_VISIT(kept.error.get());
  }
  return 0;
}

// Helpers never touch host objects, so the clients in flight can be visited while they score.
int traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (const Cohort* c = cohort_of(self)) {
    Py_VISIT(c->module.get());
    Py_VISIT(c->source.get());
    Py_VISIT(c->source_error.get());
    if (const int status = traverse_flight(c->current.get(), visit, arg)) return status;
    return traverse_flight(c->scoring.get(), visit, arg);
  }
  return 0;
}

int clear(PyObject* self) {
  delete std::exchange(reinterpret_cast<CohortIterator*>(self)->cohort, nullptr);
  return 0;
}

PyType_Slot iterator_slots[] = {
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(next)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(host::gc_dealloc<clear>)},
    {Py_tp_doc, const_cast<char*>("The results of a cohort, in client order, from iter_cohort.")},
    {0, nullptr},
};

PyType_Spec iterator_definition = {
    "ardo_old.cohort.CohortIterator",
    sizeof(CohortIterator),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    iterator_slots,
};

Ref start_cohort(PyObject* module, PyObject* args, PyObject* kwargs, const char* function) {
  static const char* keywords[] = {"database", "clients", "threads", nullptr};
  PyObject* database = nullptr;
  PyObject* clients = nullptr;
  PyObject* threads = nullptr;
  const std::string format = std::string("OO|$O:") + function;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), const_cast<char**>(keywords), &database, &clients, &threads)) {
    throw PythonError{};
  }
  bridge::ScoringOnThisThread::refuse_if_running((std::string(function) + "()").c_str());
  auto cohort = std::make_unique<Cohort>();
  const std::size_t thread_total = host::thread_count(threads, cohort::max_threads);
  const std::string path = host::existing_file_path(database);
  cohort->source = require(PyObject_GetIter(clients));
  cohort->module = Ref::owning(module);
  cohort->battery = bridge::read_battery(path, *state_of(module)->converter);
  cohort->pool = std::make_unique<pool::Pool>(thread_total - 1);
  Ref self = host::new_instance(state_of(module)->iterator_type);
  reinterpret_cast<CohortIterator*>(self.get())->cohort = cohort.release();
  return self;
}

PyObject* iter_cohort(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] { return start_cohort(module, args, kwargs, "iter_cohort").release(); });
}

PyObject* score_cohort(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    Ref results = start_cohort(module, args, kwargs, "score_cohort");
    return require(PySequence_List(results.get())).release();
  });
}

PyMethodDef methods[] = {
    {"score_cohort", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(score_cohort)), METH_VARARGS | METH_KEYWORDS,
     "score_cohort(database, clients, *, threads=None)\n--\n\n"
     "Score every client against one read of an assessment database.\n\n"
     "Each client carries `client_id` and `user_responses`, as a request to mind does. Returns, in\n"
     "client order, what mind returns for each (its report) or the exception it raises. A failure to\n"
     "open or read the database is raised once. `threads`: the threads that score, the calling one\n"
     "among them (default: the usable CPUs)."},
    {"iter_cohort", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(iter_cohort)), METH_VARARGS | METH_KEYWORDS,
     "iter_cohort(database, clients, *, threads=None)\n--\n\n"
     "score_cohort as an iterator: clients are taken from any iterable in bounded batches and the\n"
     "results yielded in order, so a cohort of any size runs in flat memory."},
    {"score_table", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(cohort::score_table)), METH_VARARGS | METH_KEYWORDS,
     "score_table(database, answers, *, client_ids=None, threads=None, quality=False, norms=None)\n--\n\n"
     "Score every client against one read of an assessment database into an Arrow table.\n\n"
     "`answers`: a 2-D integer buffer (a row per client), Arrow data (a column per question, or one\n"
     "list column), or an iterable of clients as score_cohort takes them. A row per client, in order:\n"
     "its id (`client_ids`, the clients' own, or the row's position from 0), its error (null when it\n"
     "scored) and a column per answer-dependent value of its report. table_reports() reads it back.\n"
     "`quality`: add each client's response quality against the clients that scored; `norms`: a norm\n"
     "file, add its standing on each scale the file and the battery share."},
    {"table_reports", cohort::table_reports, METH_O,
     "table_reports(table)\n--\n\n"
     "What mind gives each client of a table from score_table, read back from it or from any Arrow\n"
     "table holding it (Parquet, Arrow IPC): its report, or the exception it raises."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  return host::boundary_status([&] {
    cohort::State* state = state_of(module);
    state->converter = new bridge::ReportConverter();
    state->iterator_type = require(PyType_FromModuleAndSpec(module, &iterator_definition, nullptr)).release();
    state->table_type = tables::new_table_type(module, "ardo_old.cohort.Table",
                                               "A cohort's results with the Arrow C stream interface (__arrow_c_stream__).")
                            .release();
  });
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
  if (cohort::State* state = state_of(module)) {
    Py_VISIT(state->iterator_type);
    Py_VISIT(state->table_type);
  }
  return 0;
}

int clear_module(PyObject* module) {
  if (cohort::State* state = state_of(module)) {
    Py_CLEAR(state->iterator_type);
    Py_CLEAR(state->table_type);
  }
  return 0;
}

void free_module(void* module) {
  clear_module(static_cast<PyObject*>(module));
  if (cohort::State* state = state_of(static_cast<PyObject*>(module))) delete std::exchange(state->converter, nullptr);
}

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old.cohort",
    "Scoring of many clients against one read of an assessment database, as reports or as Arrow tables.",
    sizeof(cohort::State),
    methods,
    host::module_slots<exec_module>,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace

PyMODINIT_FUNC PyInit_cohort() { return PyModuleDef_Init(&definition); }
