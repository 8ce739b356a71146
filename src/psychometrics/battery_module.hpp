// The statistics of a battery's scales over a cohort, as ardo_old.psychometrics gives them to the
// host: the scales themselves, item scores, item analysis and the totals behind norms.
#pragma once

#include "host/ref.hpp"
#include "psychometrics/norms.hpp"

#include <string>

namespace battery_module {

// The module's state and its types, made at import.
extern const Py_ssize_t state_size;
int exec(PyObject* module);
int traverse(PyObject* module, visitproc visit, void* arg);
int clear(PyObject* module);

PyObject* scales(PyObject* module, PyObject* database);
PyObject* item_scores(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* scale_totals(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* item_analysis(PyObject* module, PyObject* args, PyObject* kwargs);

// The norm group of a cohort: every scale's totals over the clients that scored.
psychometrics::NormGroup cohort_norms(PyObject* database, PyObject* answers, PyObject* threads, std::string name, std::string date);

}  // namespace battery_module
