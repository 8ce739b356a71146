// The scoring core's failures as the host's own errors.
#pragma once

#include "bridge/report.hpp"
#include "mind/failure.hpp"

namespace bridge {

// A failure of the answers names a position in them; only the call that took the answers from the
// host can raise the host's own error for it. Each function sets that error or raises it.
class AnswerErrors {
 public:
  virtual void set(const mind::MissingAnswer& missing) const = 0;
  virtual void set(const mind::AnswerFailed& failed) const = 0;

 protected:
  ~AnswerErrors() = default;
};

// For work that scores no answer: a failure that names one is a fault of ours (SystemError).
class NoAnswers final : public AnswerErrors {
 public:
  void set(const mind::MissingAnswer&) const override;
  void set(const mind::AnswerFailed&) const override;
};

// Raises the host's own error for `reason`: KeyError with the key, ValueError with the message,
// sqlite3's exception class for the result code and its wording for a text cell that is not UTF-8,
// the host decoder's own error for a column name that is not; the answers' errors through `answers`.
[[noreturn]] void raise_failure(const mind::Reason& reason, ReportConverter& converter, const AnswerErrors& answers);

}  // namespace bridge
