// ardo_old._check: the check of an assessment database, as the command line of the package calls it.
#include "bridge/unlocked.hpp"
#include "check/run.hpp"
#include "host/arguments.hpp"
#include "host/errors.hpp"
#include "host/module_slots.hpp"
#include "host/names.hpp"
#include "mind/levels.hpp"
#include "mind/report_fields.hpp"

#include <optional>
#include <string>

namespace {

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

// Reads the database at `path` without the global lock, as `read` does; the host's signal handlers
// can stop it, and what they raise propagates.
template <class Read>
auto read_unlocked(PyObject* path, Read read) {
  const std::string database = host::file_path(path);
  bridge::ReportConverter converter;
  return bridge::run_unlocked([&](mind::StopCheck& stop) { return read(database.c_str(), &stop); }, converter);
}

PyObject* check_database(PyObject*, PyObject* path) {
  return host::boundary([&] {
    const check::Problems problems = read_unlocked(path, check::check_database);
    Ref found = require(PyList_New(0));
    for (const check::Problem& problem : problems.found()) {
      host::require_status(PyList_Append(found.get(), as_tuple(problem).get()));
    }
    return found.release();
  });
}

PyObject* answer_range(PyObject*, PyObject* path) {
  return host::boundary([&] {
    const auto range = read_unlocked(path, check::database_answer_range);
    if (!range || range->least > range->most) return Ref::owning(Py_None).release();
    return require(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(range->least), static_cast<Py_ssize_t>(range->most))).release();
  });
}

PyObject* design_warnings(PyObject*, PyObject* path) {
  return host::boundary([&] {
    const check::DesignWarnings warnings = read_unlocked(path, check::database_design_warnings);
    Ref found = require(PyList_New(0));
    for (const check::DesignWarning& warning : warnings) {
      Ref scale = optional_value(warning.scale, [](const std::string& name) { return text(name); });
      Ref pair = require(PyTuple_Pack(2, scale.get(), text(warning.message).get()));
      host::require_status(PyList_Append(found.get(), pair.get()));
    }
    return found.release();
  });
}

// A segment as the cell it came from: the report gives a database cell back as str, bytes, int,
// float or None. A text or blob cell points into the host object, which the caller's tuple keeps.
mind::Cell as_cell(PyObject* segment) {
  if (segment == Py_None) return mind::Cell();
  if (PyUnicode_Check(segment)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(segment, &size);
    if (data == nullptr) throw host::PythonError();
    return mind::Cell::text({data, static_cast<std::size_t>(size)});
  }
  if (PyBytes_Check(segment)) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    host::require_status(PyBytes_AsStringAndSize(segment, &data, &size));
    return mind::Cell::blob({data, static_cast<std::size_t>(size)});
  }
  if (PyLong_Check(segment)) {
    const long long value = PyLong_AsLongLong(segment);
    if (value == -1 && PyErr_Occurred() != nullptr) throw host::PythonError();
    return mind::Cell::integer(value);
  }
  if (PyFloat_Check(segment)) return mind::Cell::real(PyFloat_AsDouble(segment));
  host::raise_naming_type(PyExc_TypeError, "a field's segment is a str, bytes, int, float or None, not %U", segment);
}

PyObject* field_name(PyObject*, PyObject* segments) {
  return host::boundary([&] {
    std::string name;
    const Py_ssize_t count = PyTuple_Size(segments);
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (i > 0) name += '.';
      name += mind::field_segment(as_cell(PyTuple_GetItem(segments, i)));
    }
    return text(name).release();
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
    {"design_warnings", design_warnings, METH_O,
     "design_warnings(path, /)\n--\n\n"
     "The faults of the instrument's design that its keys reveal, as check_database lists them among\n"
     "its warnings: (scale, message) pairs, scale the report field of the scale concerned or None.\n"
     "Fails as check_database does."},
    {"answer_range", answer_range, METH_O,
     "answer_range(path, /)\n--\n\n"
     "How many answers a client may give on the assessment database at `path`, as check_database\n"
     "counts them: (least, most), or None when no count works or a table that decides it cannot be read.\n"
     "Fails as check_database does."},
    {"field_name", field_name, METH_VARARGS,
     "field_name(*segments)\n--\n\n"
     "The name scoring gives the report field at `segments` (str, bytes, int, float or None, as the\n"
     "report gives a database cell), as the cohort table names its columns and the statistics their\n"
     "scales: the segments joined with \".\", a text escaped so that they can be told apart, any\n"
     "other cell in brackets (\"[3]\", \"[null]\", \"[0x0a1b]\")."},
    {nullptr, nullptr, 0, nullptr},
};

Ref bands(const mind::Bands& rule) {
  Ref list = require(PyList_New(0));
  for (const mind::Band& band : rule) {
    Ref level = text(mind::level_name(band.level));
    Ref from = require(PyLong_FromLong(band.from));
    Ref pair = require(PyTuple_Pack(2, level.get(), from.get()));
    host::require_status(PyList_Append(list.get(), pair.get()));
  }
  return list;
}

Ref int_map(std::initializer_list<std::pair<long, long>> items) {
  Ref map = require(PyDict_New());
  for (const auto& [key, value] : items) {
    Ref k = require(PyLong_FromLong(key));
    Ref v = require(PyLong_FromLong(value));
    host::require_status(PyDict_SetItem(map.get(), k.get(), v.get()));
  }
  return map;
}

// The level rules' bands and maxima as scoring has them, for what shows levels beside scores.
Ref level_bands() {
  Ref rules = require(PyDict_New());
  const auto set = [&](const char* key, const Ref& value) { host::require_status(PyDict_SetItemString(rules.get(), key, value.get())); };
  set("trait", bands(mind::trait_bands));
  set("skill", bands(mind::skill_bands));
  set("aspect", bands(mind::aspect_bands));
  set("space", bands(mind::space_bands));
  set("aspect_maximum_of_three", require(PyLong_FromLong(mind::aspect_maximum_of_three)));
  set("aspect_maximum_otherwise", require(PyLong_FromLong(mind::aspect_maximum_otherwise)));
  const auto fewest = static_cast<long>(mind::fewest_aspects);
  set("space_maxima", int_map({{fewest, mind::space_maxima[0]}, {fewest + 1, mind::space_maxima[1]}, {fewest + 2, mind::space_maxima[2]}}));
  return rules;
}

int exec_module(PyObject* module) { return host::boundary_status([&] { host::bind(module, "level_bands", level_bands()); }); }

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old._check",
    "Checks an assessment database against everything scoring needs; used by `python -m ardo_old check`.",
    0,
    methods,
    host::module_slots<exec_module>,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__check() { return PyModuleDef_Init(&definition); }
