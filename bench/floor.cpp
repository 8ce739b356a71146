// The floor under a scoring call: open an assessment database, read its eight tables whole through
// SQLite's C API and touch every cell, then close it; nothing is kept and nothing is scored. A
// scoring call cannot be cheaper than this, so its time over the floor's is the price of the rest.
//
//   ardo_floor [--threads K] CALLS DATABASE...
//
// Each of K threads makes CALLS calls on its own database (thread k reads DATABASE number k modulo
// their count). Prints the wall time of the whole run, a checksum of the cells, and for every call
// its wall time and its thread's CPU time in nanoseconds, one call per line.
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <latch>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

// Opened and read as a scoring call does: the same flags, one read transaction, tables in load order.
constexpr std::array<const char*, 8> table_names = {"IDs", "PRS", "VAK", "EMQ", "TRS", "CTD", "CMF", "QTM"};
constexpr int open_flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;

using Clock = std::chrono::steady_clock;

struct Options {
  unsigned threads = 1;
  long calls = 0;
  std::vector<std::string> paths;
};

[[noreturn]] void usage() {
  std::fputs("usage: ardo_floor [--threads K] CALLS DATABASE...\n", stderr);
  std::exit(2);
}

[[noreturn]] void die(sqlite3* db, std::string_view what) {
  std::fprintf(stderr, "ardo_floor: %.*s: %s\n", static_cast<int>(what.size()), what.data(), sqlite3_errmsg(db));
  std::exit(1);
}

Options parse(int argc, char** argv) {
  Options o;
  int i = 1;
  if (i + 1 < argc && std::string_view(argv[i]) == "--threads") {
    o.threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    i += 2;
  }
  if (i + 1 >= argc) usage();
  o.calls = std::strtol(argv[i++], nullptr, 10);
  for (; i < argc; ++i) o.paths.emplace_back(argv[i]);
  if (o.threads == 0 || o.calls <= 0) usage();
  return o;
}

// FNV-1a: cheap, and it reads every byte, so no text goes untouched.
std::uint64_t hash_bytes(std::uint64_t h, const void* data, int size) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (int i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

std::uint64_t touch_cell(sqlite3_stmt* st, int i, std::uint64_t sum) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      return sum + static_cast<std::uint64_t>(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT: {
      const double v = sqlite3_column_double(st, i);
      std::uint64_t bits = 0;
      std::memcpy(&bits, &v, sizeof bits);
      return sum + bits;
    }
    case SQLITE_TEXT: {
      const unsigned char* text = sqlite3_column_text(st, i);
      return hash_bytes(sum, text, sqlite3_column_bytes(st, i));
    }
    case SQLITE_BLOB: {
      const void* blob = sqlite3_column_blob(st, i);
      return hash_bytes(sum, blob, sqlite3_column_bytes(st, i));
    }
    default:
      return sum + 1;
  }
}

std::uint64_t read_table(sqlite3* db, const char* name) {
  const std::string sql = std::string("SELECT * FROM ") + name;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) die(db, sql);
  const int columns = sqlite3_column_count(st);
  std::uint64_t sum = 0;
  for (int i = 0; i < columns; ++i) {
    const char* column = sqlite3_column_name(st, i);
    sum = hash_bytes(sum, column, static_cast<int>(std::strlen(column)));
  }
  int rc = 0;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    for (int i = 0; i < columns; ++i) sum = touch_cell(st, i, sum);
  }
  if (rc != SQLITE_DONE) die(db, sql);
  sqlite3_finalize(st);
  return sum;
}

void execute(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) die(db, sql);
}

std::uint64_t one_call(const char* path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path, &db, open_flags, nullptr) != SQLITE_OK) die(db, path);
  execute(db, "BEGIN");
  std::uint64_t sum = 0;
  for (const char* name : table_names) sum ^= read_table(db, name);
  execute(db, "COMMIT");
  if (sqlite3_close(db) != SQLITE_OK) die(db, "close");
  return sum;
}

// CPU time of the calling thread: on a busy machine it leaves out the time the thread waited.
std::int64_t thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct Call {
  std::int64_t wall_ns;
  std::int64_t cpu_ns;
};

struct Worker {
  std::vector<Call> calls;
  std::uint64_t checksum = 0;
};

void work(const std::string& path, long calls, std::latch& start, Worker& out) {
  out.calls.reserve(static_cast<std::size_t>(calls));
  start.arrive_and_wait();
  for (long c = 0; c < calls; ++c) {
    const auto begin = Clock::now();
    const std::int64_t cpu = thread_cpu_ns();
    out.checksum += one_call(path.c_str());
    out.calls.push_back({std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count(), thread_cpu_ns() - cpu});
  }
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  std::vector<Worker> workers(o.threads);
  std::latch start(static_cast<std::ptrdiff_t>(o.threads) + 1);
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < o.threads; ++t) {
    threads.emplace_back(work, std::cref(o.paths[t % o.paths.size()]), o.calls, std::ref(start), std::ref(workers[t]));
  }
  start.arrive_and_wait();
  const auto begin = Clock::now();
  for (auto& thread : threads) thread.join();
  const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count();

  std::uint64_t checksum = 0;
  for (const Worker& w : workers) checksum += w.checksum;
  std::printf("wall_ns %lld\nchecksum %016llx\n", static_cast<long long>(wall), static_cast<unsigned long long>(checksum));
  for (const Worker& w : workers) {
    for (const Call& c : w.calls) std::printf("%lld %lld\n", static_cast<long long>(c.wall_ns), static_cast<long long>(c.cpu_ns));
  }
  return 0;
}
