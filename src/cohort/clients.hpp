// What the functions of ardo_old.cohort share: the module's state, the clients as they are taken
// from the host, and the most threads a run takes.
#pragma once

#include "bridge/client.hpp"
#include "bridge/report.hpp"
#include "host/ref.hpp"
#include "mind/keys.hpp"
#include "mind/run.hpp"
#include "pool/pool.hpp"

#include <cstddef>
#include <optional>

namespace cohort {

struct State {
  bridge::ReportConverter* converter;
  PyObject* iterator_type;
  PyObject* table_type;
};

State* state_of(PyObject* module);

// One client of a batch: its answers taken, or the host error that taking them raised.
struct Client {
  host::Ref client_id;
  host::Ref user_responses;
  std::optional<bridge::Snapshot> snapshot;
  host::Ref error;
  mind::Result result;
  std::size_t scorer = 0;  // the pool's worker that scored it
};

Client take_client(PyObject* object);

// The error mind raises for this client, the diagnostic lines' first (the lines themselves are not
// written; only an error in writing them counts); none when `failure` is none and they were written.
host::Ref client_error(Client& c, const mind::Keys& keys, const mind::DiagnosticLines& lines,
                       const std::optional<mind::Failure>& failure, bridge::ReportConverter& converter);

// The most threads a run takes: more than a batch has clients could never all have work.
constexpr std::size_t max_threads = pool::Pool::max_helpers + 1;

}  // namespace cohort
