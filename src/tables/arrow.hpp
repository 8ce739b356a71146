// Arrow data through the vendored nanoarrow: its owners of the C structs, and how its status codes
// become C++ exceptions.
#pragma once

#include <nanoarrow/nanoarrow.hpp>

#include <stdexcept>
#include <string>

namespace tables {

// Arrow input that this package cannot read: a shape it does not take, or data that fails
// validation. The message says which column and why.
class Invalid : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// For what this package builds: std::bad_alloc for ENOMEM, std::runtime_error naming `what` for
// any other status but NANOARROW_OK (a fault of ours, since our own data always fits).
[[noreturn]] void fail_status(ArrowErrorCode code, const char* what);
inline void check(ArrowErrorCode code, const char* what) {
  if (code != NANOARROW_OK) [[unlikely]] fail_status(code, what);
}

// For what a producer gave: std::bad_alloc for ENOMEM, Invalid otherwise, with nanoarrow's reason.
void check_input(ArrowErrorCode code, const std::string& what, const ArrowError& error);

}  // namespace tables
