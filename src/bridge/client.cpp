#include "bridge/client.hpp"

#include "host/calls.hpp"
#include "host/errors.hpp"
#include "bridge/failures.hpp"
#include "bridge/number_answer.hpp"
#include "mind/diagnostics.hpp"

#include <array>
#include <optional>
#include <span>

namespace bridge {

using host::PythonError;
using host::Ref;
using host::require;
using host::require_status;

namespace {

// Exact ints, bools and floats are judged here without a host call; the host would judge them alike.
bool judge_number(PyObject* item, mind::Answer& answer) {
  double value = 0;
  if (PyLong_CheckExact(item) || PyBool_Check(item)) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(item, &overflow);
    if (v == -1 && PyErr_Occurred()) throw PythonError{};
    value = overflow ? 0.0 : static_cast<double>(v);
  } else if (PyFloat_CheckExact(item)) {
    value = PyFloat_AsDouble(item);
  } else {
    return false;
  }
  answer = number_answer(value);
  return true;
}

// Anything else is compared by the host with 1 to 4 and looked up in the answer map once. Once a
// comparison raised, the answer is not compared again: every later step that needs it fails
// with that one error.
void judge_object(PyObject* item, std::size_t position, PyObject* entries, const std::array<Ref, 4>& numbers, Snapshot& s,
                  mind::Answer& answer) {
  for (int k = 1; k <= 4; ++k) {
    const int equal = PyObject_RichCompareBool(item, numbers[static_cast<std::size_t>(k - 1)].get(), Py_EQ);
    const auto bit = static_cast<std::uint8_t>(1u << (k - 1));
    if (equal < 0) {
      answer.raised = static_cast<std::uint8_t>(0xfu & ~(bit - 1u));
      answer.entry = mind::Answer::LookupRaised;
      s.errors.push_back({position, static_cast<mind::AnswerStep>(static_cast<int>(mind::AnswerStep::Equal1) + k - 1), host::take_ordinary_error()});
      return;
    }
    if (equal) answer.equal |= bit;
  }
  PyObject* found = PyDict_GetItemWithError(entries, item);  // borrowed
  if (found != nullptr) {
    answer.entry = static_cast<std::int8_t>(PyLong_AsLong(found));
  } else if (PyErr_Occurred()) {
    answer.entry = mind::Answer::LookupRaised;
    s.errors.push_back({position, mind::AnswerStep::Lookup, host::take_ordinary_error()});
  }
}

constexpr std::size_t answers_between_signal_checks = 4096;

}  // namespace

Snapshot take_snapshot(PyObject* user_responses) {
  Snapshot s;
  std::array<Ref, 4> numbers;
  Ref entries = require(PyDict_New());
  for (int k = 1; k <= 4; ++k) {
    numbers[static_cast<std::size_t>(k - 1)] = require(PyLong_FromLong(k));
    require_status(PyDict_SetItem(entries.get(), numbers[static_cast<std::size_t>(k - 1)].get(), numbers[static_cast<std::size_t>(k - 1)].get()));
  }
  std::vector<mind::Answer> answers;
  Ref iterator = Ref::consuming(PyObject_GetIter(user_responses));
  while (iterator) {
    // A list runs no host code that would notice Ctrl-C, however long it is.
    if (answers.size() % answers_between_signal_checks == answers_between_signal_checks - 1) {
      require_status(PyErr_CheckSignals());
    }
    Ref item = Ref::consuming(PyIter_Next(iterator.get()));
    if (!item) break;
    mind::Answer& answer = answers.emplace_back();
    if (!judge_number(item.get(), answer)) {
      s.only_numbers = false;
      judge_object(item.get(), answers.size() - 1, entries.get(), numbers, s, answer);
    }
    s.objects.push_back(std::move(item));
  }
  if (PyErr_Occurred()) {
    s.errors.push_back({0, mind::AnswerStep::Iterate, host::take_ordinary_error()});
    s.answers = mind::Answers::unreadable();
  } else {
    s.answers = mind::Answers(std::move(answers));
  }
  return s;
}

namespace {

void append_repr(std::string& out, PyObject* object) {
  Ref repr = require(PyObject_Repr(object));
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(repr.get(), &size);
  if (text == nullptr) throw PythonError{};
  out.append(text, static_cast<std::size_t>(size));
}

void append_set_line(std::string& out, const std::vector<mind::Value>& members, ReportConverter& converter) {
  if (mind::append_integer_set(out, members)) return;
  Ref set = require(PySet_New(nullptr));
  for (const auto& member : members) require_status(PySet_Add(set.get(), converter.to_python(member).get()));
  append_repr(out, set.get());
}

// The kept answers as plain ints, when every one of them is one.
std::optional<std::vector<std::int64_t>> plain_ints(std::span<const std::size_t> kept, const Snapshot& s) {
  std::vector<std::int64_t> values;
  values.reserve(kept.size());
  for (const std::size_t p : kept) {
    PyObject* answer = s.objects[p].get();
    if (!PyLong_CheckExact(answer)) return std::nullopt;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(answer, &overflow);
    if (overflow != 0) return std::nullopt;
    values.push_back(v);
  }
  return values;
}

void append_answers_line(std::string& out, std::span<const std::size_t> kept, const Snapshot& s) {
  if (const auto values = plain_ints(kept, s)) return mind::append_integer_list(out, *values);
  Ref list = require(PyList_New(static_cast<Py_ssize_t>(kept.size())));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    require_status(PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), Ref(s.objects[kept[i]]).release()));
  }
  append_repr(out, list.get());
}

}  // namespace

std::string diagnostic_text(const mind::PersonalityKey& key, const mind::DiagnosticLines& lines, const Snapshot& s,
                            ReportConverter& converter, Ref& failure) {
  std::string text;
  try {
    for (std::size_t i = 0; i < lines.questions; ++i) {
      const mind::PersonalityKey::Trait& trait = key.trait(i);
      append_set_line(text, trait.question_numbers, converter);
      text += '\n';
      if (i >= lines.answers) continue;
      append_answers_line(text, std::span(trait.asked).first(lines.kept[i]), s);
      text += '\n';
    }
  } catch (const PythonError&) {
    failure = host::take_raised();
  }
  return text;
}

namespace {

// The host's own error for user_responses[position].
[[noreturn]] void raise_missing_answer(PyObject* user_responses, std::size_t position) {
  Ref index = require(PyLong_FromSize_t(position));
  require(PyObject_GetItem(user_responses, index.get()));
  PyErr_SetString(PyExc_IndexError, "list index out of range");  // the sequence changed under us
  throw PythonError{};
}

// An answer keeps at most one error of its own; the iteration keeps its own beside it.
[[noreturn]] void raise_answer_failure(const mind::AnswerFailed& failed, const Snapshot& s) {
  const bool iterating = failed.step == mind::AnswerStep::Iterate;
  for (const KeptError& kept : s.errors) {
    if (kept.position == failed.position && (kept.step == mind::AnswerStep::Iterate) == iterating) {
      PyErr_SetRaisedException(Ref(kept.error).release());
      throw PythonError{};
    }
  }
  // The answer has no entry in the answer map: the host's KeyError carries the answer itself.
  host::raise_with(PyExc_KeyError, s.objects[failed.position].get());
}

// The answers' errors as the snapshot took them.
class SnapshotErrors final : public AnswerErrors {
 public:
  SnapshotErrors(const Snapshot& s, PyObject* user_responses) noexcept : s_(s), user_responses_(user_responses) {}
  void set(const mind::MissingAnswer& missing) const override { raise_missing_answer(user_responses_, missing.position); }
  void set(const mind::AnswerFailed& failed) const override { raise_answer_failure(failed, s_); }

 private:
  const Snapshot& s_;
  PyObject* user_responses_;
};

}  // namespace

[[noreturn]] void raise_run_failure(const mind::Failure& failure, const Snapshot& s, PyObject* user_responses,
                                    ReportConverter& converter) {
  raise_failure(failure.reason(), converter, SnapshotErrors(s, user_responses));
}

Ref report_of(PyObject* client_id, const mind::Map& sections, ReportConverter& converter) {
  Ref report = require(PyDict_New());
  require_status(PyDict_SetItemString(report.get(), "client_id", client_id));
  converter.add_entries(report.get(), sections);
  return report;
}

}  // namespace bridge

namespace bridge {

namespace {

// In the thread's own dict of the host, so that every module of the package sees the same mark.
constexpr const char* scoring_mark = "ardo_old.scoring";

PyObject* thread_marks() {
  PyObject* marks = PyThreadState_GetDict();
  if (marks == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "no thread state to mark a scoring call in");
    throw PythonError{};
  }
  return marks;
}

}  // namespace

void ScoringOnThisThread::refuse_if_running(const char* call) {
  PyObject* mark = PyDict_GetItemString(thread_marks(), scoring_mark);  // borrowed
  if (mark == nullptr) return;
  PyErr_Format(PyExc_RecursionError, "%s called again while a call on this thread is still running", call);
  throw PythonError{};
}

ScoringOnThisThread::ScoringOnThisThread() : marks_(thread_marks()) {
  refuse_if_running("mind()");
  require_status(PyDict_SetItemString(marks_, scoring_mark, Py_True));
}

// Runs while an error may be set, which the removal must leave as it was.
ScoringOnThisThread::~ScoringOnThisThread() {
  PyObject* pending = PyErr_GetRaisedException();
  if (PyDict_DelItemString(marks_, scoring_mark) != 0) PyErr_Clear();
  PyErr_SetRaisedException(pending);
}

}  // namespace bridge
