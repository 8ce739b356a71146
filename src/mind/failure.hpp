// Why a scoring run failed, described without host types; the module turns each into the host's error.
#pragma once

#include "mind/value.hpp"

#include <cstddef>
#include <exception>
#include <string>
#include <variant>

namespace mind {

// A lookup by key found nothing: a column, a row label, a method code or a count. KeyError(key).
struct MissingKey {
  Value key;
};

// No answer at this position: the host raises its own error for user_responses[position].
struct MissingAnswer {
  std::size_t position;
};

// A host operation on an answer failed while the answers were read; the host's error was kept.
enum class AnswerStep : std::uint8_t { Iterate, Equal1, Equal2, Equal3, Equal4, Lookup };
struct AnswerFailed {
  std::size_t position;
  AnswerStep step;
};

// A value of the wrong shape: ValueError(message).
struct BadShape {
  std::string message;
};

// SQLite failed; code is its extended result code and message carries its own reason.
struct DatabaseFailed {
  int code;
  std::string message;
};

// A text cell that is not valid UTF-8, reported as the host's sqlite3 reports it.
struct UndecodableText {
  std::string column;
  std::string text;
};

// A column name that is not valid UTF-8: the host's own decoder raises its error for it.
struct UndecodableName {
  std::string name;
};

using Reason = std::variant<MissingKey, MissingAnswer, AnswerFailed, BadShape, DatabaseFailed, UndecodableText, UndecodableName>;

class Failure : public std::exception {
 public:
  explicit Failure(Reason reason) : reason_(std::move(reason)) {}
  const Reason& reason() const noexcept { return reason_; }
  const char* what() const noexcept override { return "scoring failed"; }

 private:
  Reason reason_;
};

[[noreturn]] inline void fail(Reason reason) { throw Failure(std::move(reason)); }

}  // namespace mind
