#include "mind/skills.hpp"

namespace mind {

SkillColumns::SkillColumns(const Table& ctd) : targets_(column_targets(ctd, names_)), slots_(names_.size()) {
  for (std::size_t i = 0; i < names_.size(); ++i) slots_.try_add(names_[i], i);
}

std::optional<std::size_t> SkillColumns::slot(const Cell& skill) const {
  if (skill.kind() != Kind::Text) return std::nullopt;
  return slots_.find(skill.bytes());
}

}  // namespace mind
