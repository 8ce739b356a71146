// ardo_old._check: the check of an assessment database, as the command line of the package calls it.
#include "check/check.hpp"
#include "host/arguments.hpp"
#include "host/errors.hpp"
#include "host/signals.hpp"
#include "host/sqlite_errors.hpp"
#include "mind/failure.hpp"

#include <string>

namespace {

using host::PythonError;
using host::Ref;
using host::require;

constexpr const char* severity_names[] = {"error", "warning", "note"};

Ref text(std::string_view value) {
  return require(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace"));
}

template <class T, class Convert>
Ref optional_value(const std::optional<T>& value, Convert convert) {
  return value ? convert(*value) : Ref::owning(Py_None);
}

Ref as_tuple(const check::Problem& problem) {
  const check::Place& place = problem.place;
  Ref severity = text(severity_names[static_cast<int>(problem.severity)]);
  Ref table = optional_value(place.table, [](mind::TableId id) { return text(mind::table_names[id]); });
  Ref row = optional_value(place.row, [](std::size_t label) { return require(PyLong_FromSize_t(label + 1)); });
  Ref column = optional_value(place.column, [](const std::string& name) { return text(name); });
  Ref message = text(problem.message);
  return require(PyTuple_Pack(5, severity.get(), table.get(), row.get(), column.get(), message.get()));
}

[[noreturn]] void raise_failure(const mind::Failure& failure) {
  host::raise_read_failure(failure.reason());
  PyErr_SetString(PyExc_RuntimeError, failure.what());
  throw PythonError{};
}

PyObject* check_database(PyObject*, PyObject* path) {
  return host::boundary([&] {
    const std::string database = host::file_path(path);
    check::Problems problems;
    std::optional<mind::Failure> failure;
    bool stopped = false;
    host::SignalHandlers signals;
    mind::StopCheck stop(host::SignalHandlers::raised_in, &signals);
    {
      host::ReleasedLock unlocked;
      try {
        problems = check::check_database(database.c_str(), &stop);
      } catch (mind::Failure& caught) {
        failure.emplace(std::move(caught));
      } catch (const mind::Stopped&) {
        stopped = true;
      }
    }
    if (stopped) signals.restore_raised();
    if (failure) raise_failure(*failure);
    Ref found = require(PyList_New(0));
    for (const check::Problem& problem : problems.found()) {
      host::require_status(PyList_Append(found.get(), as_tuple(problem).get()));
    }
    return found.release();
  });
}

PyMethodDef methods[] = {
    {"check_database", check_database, METH_O,
     "check_database(path, /)\n--\n\n"
     "Read the eight tables of the assessment database at `path` as scoring does and list what scoring\n"
     "would trip on, as (severity, table, row, column, message) tuples: severity is \"error\", \"warning\"\n"
     "or \"note\"; table, row (counted from 1) and column are None where the problem is not in one.\n"
     "A database that cannot be opened, or whose schema cannot be read, raises sqlite3's own error.\n"
     "Like scoring, it creates an empty database where `path` names no file."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old._check",
    "Checks an assessment database against everything scoring needs; used by `python -m ardo_old check`.",
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__check() { return PyModuleDef_Init(&definition); }
