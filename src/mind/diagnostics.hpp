// The printed form of the personality section's diagnostic lines, for the common case where every
// member is an integer; anything else is printed by the host itself.
#pragma once

#include "mind/value.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace mind {

// Appends the host's printed form of the set of these values ("{1, 2, 3}", "set()") when all of
// them are integers, and returns false, appending nothing, otherwise. A set's order carries no
// meaning; ascending is the order the host itself shows for small whole numbers.
bool append_integer_set(std::string& out, const std::vector<Value>& members);

// Appends the host's printed form of a list of integers ("[1, 2, 3]", "[]").
void append_integer_list(std::string& out, const std::vector<std::int64_t>& items);

}  // namespace mind
