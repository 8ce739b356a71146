// Where scoring meets the host: the argument check, the answers taken under the global lock,
// the run without it, then the diagnostic lines, the host's own errors and the report.
#include "bridge/client.hpp"
#include "bridge/report.hpp"
#include "bridge/unlocked.hpp"
#include "host/arguments.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "host/module_slots.hpp"
#include "host/output.hpp"
#include "mind/run.hpp"

#include <string>
#include <utility>

namespace {

using host::PythonError;
using host::Ref;
using host::require;

// Per interpreter: the report converter keeps host strings, which belong to one interpreter.
struct State {
  bridge::ReportConverter* converter;
};

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

// The lines go out in one write, so concurrent calls never interleave them. A line whose printing
// fails ends the output there, as it would have ended a print of each line in turn.
void write_diagnostics(const mind::Outcome& outcome, const bridge::Snapshot& snapshot, bridge::ReportConverter& converter) {
  if (!outcome.battery) return;
  Ref failure;
  const std::string lines =
      bridge::diagnostic_text(outcome.battery->keys().personality, outcome.result.scores.lines, snapshot, converter, failure);
  if (!lines.empty()) {
    Ref text = require(PyUnicode_DecodeUTF8(lines.data(), static_cast<Py_ssize_t>(lines.size()), nullptr));
    host::write_stdout(text.get());
  }
  if (failure) {
    PyErr_SetRaisedException(failure.release());
    throw PythonError{};
  }
}

PyObject* mind_call(PyObject* module, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    PyObject* response = host::single_argument(args, kwargs, "mind", "response");
    const bridge::ScoringOnThisThread scoring;
    Ref client_id = host::attribute(response, "client_id");
    Ref user_responses = host::attribute(response, "user_responses");
    Ref database = host::attribute(response, "sqlite_database");
    const std::string path = host::file_path(database.get());
    const bridge::Snapshot snapshot = bridge::take_snapshot(user_responses.get());

    bridge::ReportConverter& converter = *state_of(module)->converter;
    const mind::Outcome outcome =
        bridge::run_unlocked([&](mind::StopCheck& stop) { return mind::run(path.c_str(), snapshot.answers, stop); }, converter);
    write_diagnostics(outcome, snapshot, converter);
    const mind::Result& result = outcome.result;
    if (result.failure) bridge::raise_run_failure(*result.failure, snapshot, user_responses.get(), converter);
    return bridge::report_of(client_id.get(), result.sections, converter).release();
  });
}

PyMethodDef methods[] = {
    {"mind", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(mind_call)), METH_VARARGS | METH_KEYWORDS,
     "mind(response)\n--\n\n"
     "Score one client's answers against the scoring keys of an assessment database.\n\n"
     "`response` carries `client_id`, `user_responses` (the answers, question 1 first) and\n"
     "`sqlite_database` (a path). Returns the report: a dict with the keys \"client_id\",\n"
     "\"Personality_Type\", \"vak\", \"Emotional_Intelligance\", \"Roles\", \"Traits\" and \"Spaces\".\n"
     "Writes eight diagnostic lines to sys.stdout. Database errors are sqlite3's own exceptions."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) {
  return host::boundary_status([&] { state_of(module)->converter = new bridge::ReportConverter(); });
}

// The state starts zeroed, so a module whose execution failed frees nothing.
void free_module(void* module) {
  if (State* state = state_of(static_cast<PyObject*>(module))) delete std::exchange(state->converter, nullptr);
}

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old.mind",
    "Scoring of psychometric questionnaires against the scoring keys of an SQLite database.",
    sizeof(State),
    methods,
    host::module_slots<exec_module>,
    nullptr,
    nullptr,
    free_module,
};

}  // namespace

PyMODINIT_FUNC PyInit_mind() { return PyModuleDef_Init(&definition); }
