// One client as the host hands it to scoring and gets it back: the answers taken under the global
// lock before a run, then the diagnostic lines, the host's own error or the report after it.
#pragma once

#include "bridge/report.hpp"
#include "host/ref.hpp"
#include "mind/answers.hpp"
#include "mind/failure.hpp"
#include "mind/keys.hpp"
#include "mind/scores.hpp"
#include "mind/value.hpp"

#include <cstddef>
#include <string>
#include <vector>

namespace bridge {

// A host error raised while the answers were taken, kept until scoring reaches that step.
struct KeptError {
  std::size_t position;
  mind::AnswerStep step;
  host::Ref error;
};

struct Snapshot {
  mind::Answers answers;
  std::vector<host::Ref> objects;  // the answer objects themselves, never converted
  std::vector<KeptError> errors;
  // Every answer an exact int, bool or float: writing them out runs no host code, so cannot fail.
  bool only_numbers = true;
};

// Takes every answer the host iterates, each compared with 1 to 4 and looked up once; host errors
// are kept for the step of scoring that meets them. The host's signal handlers run every so many
// answers, so Ctrl-C ends even an endless iterable; what they raise propagates.
Snapshot take_snapshot(PyObject* user_responses);

// The diagnostic lines of a run as mind prints them, from the lines its personality section got
// to and the key it scored. A line whose formatting fails ends the text there, its host error left
// in `failure`.
std::string diagnostic_text(const mind::PersonalityKey& key, const mind::DiagnosticLines& lines, const Snapshot& s,
                            ReportConverter& converter, host::Ref& failure);

// Marks this thread as running the host code of a scoring call (taking a client's answers, making
// its results), for as long as it lives. Host code run so (an answer's __eq__, say) that scores
// again on the same thread is refused with RecursionError, whichever module it calls: each such
// call would compare every answer again, and the work would grow as a power of the depth.
class ScoringOnThisThread {
 public:
  ScoringOnThisThread();
  ~ScoringOnThisThread();
  ScoringOnThisThread(const ScoringOnThisThread&) = delete;
  ScoringOnThisThread& operator=(const ScoringOnThisThread&) = delete;

  // Raises the refusal, naming `call` ("mind()", say), when this thread is running the host code
  // of a scoring call.
  static void refuse_if_running(const char* call);

 private:
  PyObject* marks_;  // this thread's dict of the host, borrowed
};

// Raises the host's own error for a failed run of the answers in `s`, taken from `user_responses`.
[[noreturn]] void raise_run_failure(const mind::Failure& failure, const Snapshot& s, PyObject* user_responses,
                                    ReportConverter& converter);

// The report: "client_id" first, then the sections in order.
host::Ref report_of(PyObject* client_id, const mind::Map& sections, ReportConverter& converter);

}  // namespace bridge
