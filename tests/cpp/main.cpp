#include "check.hpp"

#include <exception>

#ifdef TESTS_EMBED_PYTHON
#include <Python.h>
#endif

namespace testing {

int run_all(const char* only) {
  for (const Case& c : cases()) {
    if (only != nullptr && std::string(c.name).find(only) == std::string::npos) continue;
    const int before = failures();
    try {
      c.body();
    } catch (const std::exception& e) {
      report(false, c.name, std::string("threw ") + e.what(), __FILE__, __LINE__);
    } catch (...) {
      report(false, c.name, "threw a host error", __FILE__, __LINE__);
    }
    std::fprintf(stderr, "%s %s\n", failures() == before ? "ok  " : "FAIL", c.name);
  }
  std::fprintf(stderr, "%d failed checks\n", failures());
  return failures() == 0 ? 0 : 1;
}

}  // namespace testing

int main(int argc, char** argv) {
  // A case name, or part of one, runs only the cases it names.
  const char* only = argc > 1 ? argv[1] : nullptr;
#ifdef TESTS_EMBED_PYTHON
  // The cases hold the lock, as host code does, and let go of it where a run would.
  Py_InitializeEx(0);
  const int status = testing::run_all(only);
  return Py_FinalizeEx() < 0 ? 1 : status;
#else
  return testing::run_all(only);
#endif
}
