// One visitor from a set of lambdas, for std::visit over a closed set of cases: a case added to the
// variant and forgotten by a visitor is a compile error.
#pragma once

namespace support {

template <class... Cases>
struct overloaded : Cases... {
  using Cases::operator()...;
};

}  // namespace support
