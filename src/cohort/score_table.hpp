// A cohort's results as an Arrow table, and the results read back from any such table.
#pragma once

#include <Python.h>

namespace cohort {

// score_table(database, answers, *, client_ids=None, threads=None, quality=False, norms=None)
PyObject* score_table(PyObject* module, PyObject* args, PyObject* kwargs);
// table_reports(table)
PyObject* table_reports(PyObject* module, PyObject* table);

}  // namespace cohort
