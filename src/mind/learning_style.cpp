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

}  // namespace

Map learning_style(const Table& vak, const Answers& answers) {
  // VN, KF, KP, AS, KS
  std::array<std::int64_t, 5> score{};
  std::array<std::optional<std::size_t>, 5> columns;
  for (std::size_t c = 0; c < vak_columns.size(); ++c) columns[c] = vak.find(vak_columns[c]);
  const std::size_t count = answers.walk();
  for (std::size_t p = 0; p < count; ++p) {
    // Every answer needs its row, then each of the five columns, before the answer is looked at.
    if (p >= vak.row_count()) fail(MissingKey{Value(static_cast<std::int64_t>(p))});
    std::array<Cell, 5> cells;
    for (std::size_t c = 0; c < vak_columns.size(); ++c) {
      if (!columns[c]) fail(MissingKey{Value(vak_columns[c])});
      cells[c] = vak.at(p, *columns[c]);
    }
    const Answer& a = answers.at(p);
    if (Answers::equals(a, p, 1) || Answers::equals(a, p, 2)) {
      for (std::size_t c = 0; c < 3; ++c) score[c] += lenient_points(cells[c], a, p);
    } else if (Answers::equals(a, p, 3) || Answers::equals(a, p, 4)) {
      for (std::size_t c = 3; c < 5; ++c) score[c] += lenient_points(cells[c], a, p);
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

}  // namespace mind
