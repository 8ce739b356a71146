// UTF-8 validity exactly as the host's strict decoder judges it.
#pragma once

#include <cstddef>

namespace mind {

// Rejects what the host's decoder rejects: stray continuation bytes, truncated sequences,
// overlong forms, surrogates and code points past U+10FFFF.
bool valid_utf8(const unsigned char* s, std::size_t n) noexcept;

}  // namespace mind
