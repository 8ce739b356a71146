// The client's answers as the host compared them, taken once so scoring can run without the host.
#pragma once

#include "mind/failure.hpp"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mind {

// What the host said of one answer: whether it equals 1, 2, 3 and 4, and which entry of the
// answer map {1: .., 2: .., 3: .., 4: ..} it finds. A host error is kept, not raised, until
// scoring reaches the step that needs it, so failures surface in the order the host would see them.
struct Answer {
  enum Lookup : std::int8_t { LookupRaised = -1, NotFound = 0 };  // 1 to 4: the entry found

  std::uint8_t equal = 0;   // bit k-1: equals k
  std::uint8_t raised = 0;  // bit k-1: comparing with k raised
  std::int8_t entry = NotFound;
};

class Answers {
 public:
  Answers() = default;
  explicit Answers(std::vector<Answer> answers) : answers_(std::move(answers)) {}
  // The host could not iterate the answers; the first step that walks them fails.
  static Answers unreadable() {
    Answers a;
    a.readable_ = false;
    return a;
  }

  // Walking the answers in order: fails when the host could not iterate them.
  std::size_t walk() const {
    if (!readable_) fail(AnswerFailed{0, AnswerStep::Iterate});
    return answers_.size();
  }
  // Indexing an answer by position: fails as the host's index operation would.
  const Answer& at(std::size_t position) const {
    if (!readable_ || position >= answers_.size()) fail(MissingAnswer{position});
    return answers_[position];
  }

  static bool equals(const Answer& a, std::size_t position, int k) {
    const auto bit = static_cast<std::uint8_t>(1u << (k - 1));
    if (a.raised & bit) fail(AnswerFailed{position, static_cast<AnswerStep>(static_cast<int>(AnswerStep::Equal1) + k - 1)});
    return (a.equal & bit) != 0;
  }
  // The entry for {1..4}[answer]: 1 to 4, or the host's KeyError or other error.
  static int strict_entry(const Answer& a, std::size_t position) {
    if (a.entry <= 0) fail(AnswerFailed{position, AnswerStep::Lookup});
    return a.entry;
  }
  // The entry for .get(answer, 0): 0 when absent; other host errors still surface.
  static int lenient_entry(const Answer& a, std::size_t position) {
    if (a.entry == Answer::LookupRaised) fail(AnswerFailed{position, AnswerStep::Lookup});
    return a.entry;
  }

 private:
  std::vector<Answer> answers_;
  bool readable_ = true;
};

}  // namespace mind
