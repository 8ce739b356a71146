// The flags of an item or a client: short texts, joined into one.
#pragma once

#include <string>

namespace psychometrics {

inline void add_flag(std::string& flags, const char* flag) {
  if (!flags.empty()) flags += "; ";
  flags += flag;
}

}  // namespace psychometrics
