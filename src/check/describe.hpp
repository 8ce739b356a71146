// Cells and names as the check's messages show them.
#pragma once

#include "mind/cell.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace check {

// A text in double quotes, a number as written, NULL, or a blob by its size.
std::string shown(const mind::Cell& cell);

std::string quoted(std::string_view text);

// A row label as the messages count rows: from 1.
std::string row_number(std::size_t label);

}  // namespace check
