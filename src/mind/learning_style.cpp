// Learning style: visual, auditory and kinesthetic scores from "VAK", and the dominant one.
#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"

#include <array>
#include <optional>

namespace mind {

namespace {

Style dominant_style(std::int64_t visual, std::int64_t auditory, std::int64_t kinesthetic) {
  if (visual > auditory && visual > kinesthetic) return Style::Visual;
  if (auditory > visual && auditory > kinesthetic) return Style::Auditory;
  return Style::Kinesthetic;  // every tie ends here
}

// VN, KF, KP, AS, KS: where each stands in "VAK".
using StyleColumns = std::array<std::optional<std::size_t>, 5>;

StyleColumns style_columns(const Table& vak) {
  StyleColumns columns;
  for (std::size_t c = 0; c < vak_columns.size(); ++c) columns[c] = vak.find(vak_columns[c]);
  return columns;
}

// Every answer needs its row, then each of the five columns, before the answer is looked at.
StyleMethods methods_of_row(const Table& vak, const StyleColumns& columns, std::size_t p) {
  StyleMethods methods{};
  for (std::size_t c = 0; c < vak_columns.size(); ++c) {
    if (!columns[c]) fail(MissingKey{Value(vak_columns[c])});
    methods[c] = method_of(vak.at(p, *columns[c]));
  }
  return methods;
}

}  // namespace

std::string_view style_name(Style style) noexcept {
  static constexpr std::string_view names[] = {"Visual", "Auditory", "Kinesthetic"};
  return names[static_cast<std::size_t>(style)];
}

StyleKey::StyleKey(const Table& vak) {
  const StyleColumns columns = style_columns(vak);
  rows_.reserve(vak.row_count());
  try {
    for (std::size_t p = 0; p < vak.row_count(); ++p) rows_.push_back(methods_of_row(vak, columns, p));
  } catch (Failure& failure) {
    failure_.emplace(std::move(failure));  // a missing column: every row fails alike
  }
}

const StyleMethods& StyleKey::methods_at(std::size_t p) const {
  if (p < rows_.size()) return rows_[p];
  if (failure_) throw *failure_;
  fail(MissingKey{Value(static_cast<std::int64_t>(p))});
}

// "VN" is visual, "AS" auditory, and "KF", "KP" and "KS" are kinesthetic.
StylePoints style_points(const StyleMethods& methods, const Answer& a, std::size_t p) {
  StylePoints points{};
  if (Answers::equals(a, p, 1) || Answers::equals(a, p, 2)) {
    points[0] = lenient_points(methods[0], a, p);
    points[2] = lenient_points(methods[1], a, p) + lenient_points(methods[2], a, p);
  } else if (Answers::equals(a, p, 3) || Answers::equals(a, p, 4)) {
    points[1] = lenient_points(methods[3], a, p);
    points[2] = lenient_points(methods[4], a, p);
  }
  return points;
}

void score_learning_style(const StyleKey& key, const Answers& answers, StyleScores& scores) {
  StylePoints score{};
  const std::size_t count = answers.walk();
  for (std::size_t p = 0; p < count; ++p) {
    const StyleMethods& methods = key.methods_at(p);
    const StylePoints points = style_points(methods, answers.at(p), p);
    for (std::size_t s = 0; s < points.size(); ++s) score[s] += points[s];
  }
  scores.visual = score[0];
  scores.auditory = score[1];
  scores.kinesthetic = score[2];
  scores.type = dominant_style(scores.visual, scores.auditory, scores.kinesthetic);
}

Value report_learning_style(const StyleScores& scores) {
  return Value(Map{
      {"type", Value(style_name(scores.type))},
      {"visual", Value(scores.visual)},
      {"auditory", Value(scores.auditory)},
      {"kinesthetic", Value(scores.kinesthetic)},
  });
}

}  // namespace mind
