// Personality type: the share of answers leaning to each pole of four trait pairs, and the four letters.
#include "mind/levels.hpp"
#include "mind/scoring_keys.hpp"
#include "mind/sections.hpp"

#include <string>

namespace mind {

namespace {

// Positions (from 0) of the answers whose question number is among the "Idx" cells of the trait.
std::vector<std::size_t> kept_positions(const Table& prs, std::size_t idx, const std::vector<std::size_t>& rows, std::size_t answer_count) {
  std::vector<bool> asked(answer_count, false);
  for (const std::size_t row : rows) {
    const Cell c = prs.at(row, idx);
    std::int64_t question = 0;
    const bool whole = c.kind() == Kind::Integer ? (question = c.as_integer(), true)
                                                 : (c.kind() == Kind::Real && exact_integer(c.as_real(), question));
    if (whole && question >= 1 && static_cast<std::uint64_t>(question) <= answer_count) asked[static_cast<std::size_t>(question - 1)] = true;
  }
  std::vector<std::size_t> kept;
  for (std::size_t p = 0; p < answer_count; ++p) {
    if (asked[p]) kept.push_back(p);
  }
  return kept;
}

std::size_t first_pole_count(const Answers& answers, const std::vector<std::size_t>& kept) {
  std::size_t count = 0;
  for (const std::size_t p : kept) {
    const Answer& a = answers.at(p);
    if (Answers::equals(a, p, 1) || Answers::equals(a, p, 2)) ++count;
  }
  return count;
}

}  // namespace

Map personality_type(const Table& prs, const Answers& answers, std::vector<TraitLines>& lines) {
  Map personality;
  std::string title;
  for (const std::string_view trait : personality_traits) {
    const auto rows = prs.rows_where(trait, Cell::text("Y"));
    const std::size_t idx = prs.column_index(index_column);
    TraitLines& trait_lines = lines.emplace_back();
    for (const std::size_t row : rows) trait_lines.question_numbers.push_back(Value::from_cell(prs.at(row, idx)));
    trait_lines.kept = kept_positions(prs, idx, rows, answers.walk());
    trait_lines.answers_kept = true;

    const std::size_t first = first_pole_count(answers, trait_lines.kept);
    const std::size_t second = trait_lines.kept.size() - first;
    const double n = static_cast<double>(std::max<std::size_t>(trait_lines.kept.size(), 1));
    const double probability_e = static_cast<double>(first) / n;
    const double probability_i = static_cast<double>(second) / n;
    personality.push_back({trait.substr(0, 1), round2(probability_e)});
    personality.push_back({trait.substr(1, 1), round2(probability_i)});
    title += probability_e > probability_i ? trait[0] : trait[1];
  }
  personality.push_back({"title", Value(std::string_view(title))});
  return personality;
}

}  // namespace mind
