#include "tables/arrow.hpp"

#include <new>

namespace tables {

void fail_status(ArrowErrorCode code, const char* what) {
  if (code == ENOMEM) throw std::bad_alloc();
  throw std::runtime_error(std::string(what) + " failed (status " + std::to_string(code) + ")");
}

void check_input(ArrowErrorCode code, const std::string& what, const ArrowError& error) {
  if (code == NANOARROW_OK) return;
  if (code == ENOMEM) throw std::bad_alloc();
  throw Invalid(error.message[0] == '\0' ? what : what + ": " + error.message);
}

}  // namespace tables
