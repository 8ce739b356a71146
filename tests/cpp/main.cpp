#include "check.hpp"

#include <exception>

namespace testing {

int run_all() {
  for (const Case& c : cases()) {
    const int before = failures();
    try {
      c.body();
    } catch (const std::exception& e) {
      report(false, c.name, std::string("threw ") + e.what(), __FILE__, __LINE__);
    }
    std::fprintf(stderr, "%s %s\n", failures() == before ? "ok  " : "FAIL", c.name);
  }
  std::fprintf(stderr, "%zu cases, %d failed checks\n", cases().size(), failures());
  return failures() == 0 ? 0 : 1;
}

}  // namespace testing

int main() { return testing::run_all(); }
