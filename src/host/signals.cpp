#include "host/signals.hpp"


namespace host {

namespace {

// The main thread of this interpreter, as the host's threading module names it.
bool on_main_thread() {
  Ref threading = require(PyImport_ImportModule("threading"));
  Ref main = require(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
  Ref ident = require(PyObject_GetAttrString(main.get(), "ident"));
  const unsigned long main_ident = PyLong_AsUnsignedLong(ident.get());
  if (PyErr_Occurred()) throw PythonError{};
  return main_ident == PyThread_get_thread_ident();
}

}  // namespace

bool SignalHandlers::handlers_raised() noexcept {
  if (kind_ == Thread::Other || raised_) return static_cast<bool>(raised_);
  PyEval_RestoreThread(thread_);
  try {
    if (kind_ == Thread::Unknown) kind_ = on_main_thread() ? Thread::Main : Thread::Other;
    if (kind_ == Thread::Main) require_status(PyErr_CheckSignals());
  } catch (const PythonError&) {
    raised_ = Ref::consuming(PyErr_GetRaisedException());
  }
  thread_ = PyEval_SaveThread();
  return static_cast<bool>(raised_);
}

void SignalHandlers::restore_raised() {
  PyErr_SetRaisedException(raised_.release());
  throw PythonError{};
}

}  // namespace host
