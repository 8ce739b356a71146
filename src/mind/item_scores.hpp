// The scales of a battery as sums of per-question contributions: every report total that scoring
// adds up question by question (the pole counts behind the personality shares, the three learning
// styles, the five emotional-intelligence scores, the nine roles, the traits, the skills, and the
// aspects and spaces as sums of their skills), with the points each question gives it for each
// answer. What statistics of a cohort need of a battery, made from the same keys and the same
// rules as the scores themselves, so that a client's item scores always add up to its total.
#pragma once

#include "mind/answers.hpp"
#include "mind/keys.hpp"
#include "mind/report_fields.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mind {

// What a scale's points can depend on in one answer, as scoring compares it: whether it equals 1 or
// 2, else whether it equals 3 or 4, and which entry of the answer map it finds (0: none). Every
// answer of a class gives every scale the same points. An answer the client did not give is a
// class of its own, worth nothing on every scale.
inline constexpr std::size_t answer_class_count = 21;
inline constexpr std::uint8_t not_answered = 20;

// The class of an answer that scoring compared; fails as scoring fails where it could not compare
// it, which a client that scored never meets.
std::uint8_t answer_class(const Answer& answer, std::size_t position);
// The class of the answer 1, 2, 3 or 4.
std::uint8_t plain_answer_class(int entry) noexcept;

// The points of one question for each class of answer.
using ItemPoints = std::array<std::int32_t, answer_class_count>;

struct ScaleItem {
  std::uint32_t position;  // the question, counted from 0
  ItemPoints points;
};

struct Scale {
  ReportField field;             // the report's value that the scale's total stands behind
  std::vector<ScaleItem> items;  // by position, each question once
  std::int64_t lowest = 0;       // the least and the greatest total that answers 1 to 4 give
  std::int64_t highest = 0;
  // What an aspect's or a space's percentage divides by; a pole count's share divides by the
  // questions answered instead.
  std::optional<int> maximum;
};

// Every scale of the battery, in report order, named as report_fields names their values: a pole
// count by its share ("Personality_Type.E"), an aspect or a space by its percentage, the others by
// their totals. A skill listed in two aspects is a scale in each. A key that fails every client
// (a cell no method lookup takes) contributes nothing from the row it fails at.
std::vector<Scale> battery_scales(const Keys& keys);

// One client's answers by class, for the positions of `size` questions.
void classify_answers(const Answers& answers, std::vector<std::uint8_t>& classes, std::size_t size);

// The questions a battery's scales reach: one past the highest position of any item.
std::size_t questions_reached(const std::vector<Scale>& scales) noexcept;

inline std::int32_t item_score(const ScaleItem& item, const std::vector<std::uint8_t>& classes) noexcept {
  return item.points[classes[item.position]];
}

// The scale's total: for a pole count the count, for an aspect or a space what its percentage
// divides, otherwise the total reported.
inline std::int64_t scale_total(const Scale& scale, const std::vector<std::uint8_t>& classes) noexcept {
  std::int64_t total = 0;
  for (const ScaleItem& item : scale.items) total += item_score(item, classes);
  return total;
}

}  // namespace mind
