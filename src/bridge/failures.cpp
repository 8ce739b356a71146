#include "bridge/failures.hpp"

#include "host/errors.hpp"
#include "host/sqlite_errors.hpp"
#include "support/overloaded.hpp"

#include <string>
#include <variant>

namespace bridge {

namespace {

// The host's decoder raises its own error for the name; the fallback only guards against a decoder
// that accepts what the core refused.
void set_undecodable_name(const std::string& name) {
  host::require(PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), nullptr));
  PyErr_SetString(PyExc_UnicodeError, "column name is not UTF-8");
}

}  // namespace

void NoAnswers::set(const mind::MissingAnswer&) const { PyErr_SetString(PyExc_SystemError, "an answer was read where none is scored"); }

void NoAnswers::set(const mind::AnswerFailed&) const { PyErr_SetString(PyExc_SystemError, "an answer was read where none is scored"); }

// Every case sets the host's error or raises it itself.
void raise_failure(const mind::Reason& reason, ReportConverter& converter, const AnswerErrors& answers) {
  std::visit(support::overloaded{
                 [&](const mind::MissingKey& key) { host::raise_with(PyExc_KeyError, converter.to_python(key.key).get()); },
                 [&](const mind::MissingAnswer& missing) { answers.set(missing); },
                 [&](const mind::AnswerFailed& failed) { answers.set(failed); },
                 [](const mind::BadShape& shape) { PyErr_SetString(PyExc_ValueError, shape.message.c_str()); },
                 [](const mind::DatabaseFailed& db) { host::raise_sqlite_error(db.code, db.message.c_str()); },
                 [](const mind::UndecodableText& text) { host::raise_undecodable_text(text.column.c_str(), text.text.c_str()); },
                 [](const mind::UndecodableName& name) { set_undecodable_name(name.name); },
             },
             reason);
  throw host::PythonError{};
}

}  // namespace bridge
