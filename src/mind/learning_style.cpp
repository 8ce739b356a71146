// Learning style: visual, auditory and kinesthetic scores from "VAK", and the dominant one.
#include "mind/methods.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"

#include <array>
#include <optional>

namespace mind {

namespace {

std::string_view dominant_style(std::int64_t visual, std::int64_t auditory, std::int64_t kinesthetic) {
  if (visual > auditory && visual > kinesthetic) return "Visual";
  if (auditory > visual && auditory > kinesthetic) return "Auditory";
  return "Kinesthetic";  // every tie ends here
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
  if (p >= vak.row_count()) fail(MissingKey{Value(static_cast<std::int64_t>(p))});
  StyleMethods methods{};
  for (std::size_t c = 0; c < vak_columns.size(); ++c) {
    if (!columns[c]) fail(MissingKey{Value(vak_columns[c])});
    methods[c] = method_of(vak.at(p, *columns[c]));
  }
  return methods;
}

// The section, with `methods_at(p)` giving the methods of the row that answer p pairs with.
template <class MethodsAt>
Map style_of(const Answers& answers, MethodsAt&& methods_at) {
  std::array<std::int64_t, 5> score{};
  const std::size_t count = answers.walk();
  for (std::size_t p = 0; p < count; ++p) {
    const StyleMethods methods = methods_at(p);
    const Answer& a = answers.at(p);
    if (Answers::equals(a, p, 1) || Answers::equals(a, p, 2)) {
      for (std::size_t c = 0; c < 3; ++c) score[c] += lenient_points(methods[c], a, p);
    } else if (Answers::equals(a, p, 3) || Answers::equals(a, p, 4)) {
      for (std::size_t c = 3; c < 5; ++c) score[c] += lenient_points(methods[c], a, p);
    }
  }
  const std::int64_t visual = score[0];
  const std::int64_t auditory = score[3];
  const std::int64_t kinesthetic = score[4] + score[1] + score[2];
  return {
      {"type", Value(dominant_style(visual, auditory, kinesthetic))},
      {"visual", Value(visual)},
      {"auditory", Value(auditory)},
      {"kinesthetic", Value(kinesthetic)},
  };
}

}  // namespace

Map learning_style(const Table& vak, const Answers& answers) {
  const StyleColumns columns = style_columns(vak);
  return style_of(answers, [&](std::size_t p) { return methods_of_row(vak, columns, p); });
}

KeptStyle::KeptStyle(const Table& vak) {
  const StyleColumns columns = style_columns(vak);
  rows_.reserve(vak.row_count());
  try {
    for (std::size_t p = 0; p < vak.row_count(); ++p) rows_.push_back(methods_of_row(vak, columns, p));
  } catch (Failure& failure) {
    failure_.emplace(std::move(failure));  // a missing column: every row fails alike
  }
}

const StyleMethods& KeptStyle::methods_at(std::size_t p) const {
  if (p < rows_.size()) return rows_[p];
  if (failure_) throw *failure_;
  fail(MissingKey{Value(static_cast<std::int64_t>(p))});
}

Map learning_style(const KeptStyle& vak, const Answers& answers) {
  return style_of(answers, [&](std::size_t p) { return vak.methods_at(p); });
}

}  // namespace mind
