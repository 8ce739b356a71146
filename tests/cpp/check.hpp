// The few pieces a test program needs: named cases, checks that report and go on, and a count.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace testing {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& cases() {
  static std::vector<Case> all;
  return all;
}

inline int& failures() {
  static int count = 0;
  return count;
}

struct Register {
  Register(const char* name, std::function<void()> body) { cases().push_back({name, std::move(body)}); }
};

inline void report(bool ok, const char* expression, const std::string& detail, const char* file, int line) {
  if (ok) return;
  ++failures();
  std::fprintf(stderr, "%s:%d: failed: %s %s\n", file, line, expression, detail.c_str());
}

// Runs every case whose name contains `only` (every case for null); an exception ends its case as
// one failure. The exit status of a run.
int run_all(const char* only);

}  // namespace testing

#define TEST_CASE(name) \
  static void name();   \
  static const testing::Register name##_registered(#name, name); \
  static void name()
#define CHECK(condition) testing::report(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__)
// Also prints what the check was about when it fails (a row, a column).
#define CHECK_AT(condition, detail) testing::report(static_cast<bool>(condition), #condition, (detail), __FILE__, __LINE__)
// The statement must throw `Exception` whose message contains `part`.
#define CHECK_THROWS(statement, Exception, part)                                                        \
  do {                                                                                                \
    std::string thrown_ = "nothing";                                                                 \
    bool matched_ = false;                                                                            \
    try {                                                                                             \
      statement;                                                                                      \
    } catch (const Exception& e_) {                                                                   \
      thrown_ = e_.what();                                                                            \
      matched_ = thrown_.find(part) != std::string::npos;                                             \
    } catch (const std::exception& e_) {                                                              \
      thrown_ = std::string("another exception: ") + e_.what();                                       \
    }                                                                                                 \
    testing::report(matched_, #statement, "threw " + thrown_, __FILE__, __LINE__);                    \
  } while (false)
