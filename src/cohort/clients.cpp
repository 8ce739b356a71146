#include "cohort/clients.hpp"

#include "host/calls.hpp"
#include "host/errors.hpp"

namespace cohort {

using host::PythonError;
using host::Ref;

State* state_of(PyObject* module) { return static_cast<State*>(PyModule_GetState(module)); }

Client take_client(PyObject* object) {
  Client c;
  const bridge::ScoringOnThisThread scoring;
  try {
    c.client_id = host::attribute(object, "client_id");
    c.user_responses = host::attribute(object, "user_responses");
    c.snapshot.emplace(bridge::take_snapshot(c.user_responses.get()));
  } catch (const PythonError&) {
    c.error = host::take_ordinary_error();
  }
  return c;
}

Ref client_error(Client& c, const mind::Keys& keys, const mind::DiagnosticLines& lines, const std::optional<mind::Failure>& failure,
                 bridge::ReportConverter& converter) {
  if (c.error) return std::move(c.error);
  const bridge::ScoringOnThisThread scoring;
  if (!c.snapshot->only_numbers) {
    Ref written;
    bridge::diagnostic_text(keys.personality, lines, *c.snapshot, converter, written);
    if (written) return written;
  }
  if (!failure) return Ref();
  try {
    bridge::raise_run_failure(*failure, *c.snapshot, c.user_responses.get(), converter);
  } catch (const PythonError&) {
    return host::take_raised();
  }
}

}  // namespace cohort
