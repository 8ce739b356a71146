#include "psychometrics/norm_file.hpp"

#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string_view>
#include <system_error>

namespace psychometrics {

namespace {

constexpr int application_id = 0x4E524D31;
constexpr int layout_version = 1;

constexpr const char* schema = R"(
PRAGMA application_id = 1314016561;
PRAGMA user_version = 1;
CREATE TABLE norm_group (name TEXT NOT NULL, date TEXT NOT NULL);
CREATE TABLE norm_scale (scale TEXT PRIMARY KEY, size INTEGER NOT NULL CHECK (size > 0), mean REAL NOT NULL, sd REAL);
CREATE TABLE norm_count (scale TEXT NOT NULL REFERENCES norm_scale (scale), score INTEGER NOT NULL,
                         count INTEGER NOT NULL CHECK (count > 0), PRIMARY KEY (scale, score)) WITHOUT ROWID;
)";
static_assert(application_id == 1314016561);

struct CloseDatabase {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

class Connection {
 public:
  Connection(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    const int status = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_EXRESCODE, nullptr);
    db_.reset(db);
    if (status != SQLITE_OK) fail();
    // The file may come from anyone: its schema cannot be written around SQLite's checks, and
    // its views and triggers may call only functions without side effects.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  }

  [[noreturn]] void fail() const {
    if (!db_) throw NormFileError(SQLITE_NOMEM, sqlite3_errstr(SQLITE_NOMEM));
    throw NormFileError(sqlite3_extended_errcode(db_.get()), sqlite3_errmsg(db_.get()));
  }
  void check(int status) const {
    if (status != SQLITE_OK && status != SQLITE_ROW && status != SQLITE_DONE) fail();
  }
  void execute(const char* sql) const { check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr)); }

  std::unique_ptr<sqlite3_stmt, FinalizeStatement> prepare(std::string_view sql) const {
    sqlite3_stmt* statement = nullptr;
    check(sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &statement, nullptr));
    return std::unique_ptr<sqlite3_stmt, FinalizeStatement>(statement);
  }
  // Steps once; true while there is a row.
  bool step(sqlite3_stmt* statement) const {
    const int status = sqlite3_step(statement);
    check(status);
    return status == SQLITE_ROW;
  }
  std::int64_t single_integer(const char* sql) const {
    auto statement = prepare(sql);
    return step(statement.get()) ? sqlite3_column_int64(statement.get(), 0) : 0;
  }
  // Closes now, so that a failure to finish writing reaches the caller.
  void close() {
    if (sqlite3_close(db_.get()) != SQLITE_OK) fail();
    db_.release();
  }

 private:
  std::unique_ptr<sqlite3, CloseDatabase> db_;
};

using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

void bind_text(const Connection& db, sqlite3_stmt* statement, int index, const std::string& text) {
  db.check(sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
}

void run_bound(const Connection& db, sqlite3_stmt* statement) {
  db.step(statement);
  db.check(sqlite3_reset(statement));
}

void write_group(const Connection& db, const NormGroup& group) {
  db.execute("BEGIN");
  db.execute(schema);
  Statement header = db.prepare("INSERT INTO norm_group (name, date) VALUES (?, ?)");
  bind_text(db, header.get(), 1, group.name);
  bind_text(db, header.get(), 2, group.date);
  run_bound(db, header.get());
  Statement scale = db.prepare("INSERT INTO norm_scale (scale, size, mean, sd) VALUES (?, ?, ?, ?)");
  Statement count = db.prepare("INSERT INTO norm_count (scale, score, count) VALUES (?, ?, ?)");
  for (const ScaleNorm& norm : group.scales) {
    bind_text(db, scale.get(), 1, norm.scale);
    db.check(sqlite3_bind_int64(scale.get(), 2, norm.size));
    db.check(sqlite3_bind_double(scale.get(), 3, norm.mean));
    db.check(norm.sd ? sqlite3_bind_double(scale.get(), 4, *norm.sd) : sqlite3_bind_null(scale.get(), 4));
    run_bound(db, scale.get());
    bind_text(db, count.get(), 1, norm.scale);
    for (const auto& [score, clients] : norm.counts) {
      db.check(sqlite3_bind_int64(count.get(), 2, score));
      db.check(sqlite3_bind_int64(count.get(), 3, clients));
      run_bound(db, count.get());
    }
  }
  db.execute("COMMIT");
}

[[noreturn]] void not_a_norm_file(const std::string& path, const std::string& why) {
  throw NormFileError(0, path + " is not a norm file: " + why);
}

std::string column_text(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

void read_counts(const Connection& db, const std::string& path, ScaleNorm& norm) {
  Statement counts = db.prepare("SELECT score, count FROM norm_count WHERE scale = ? ORDER BY score");
  bind_text(db, counts.get(), 1, norm.scale);
  std::int64_t clients = 0;
  while (db.step(counts.get())) {
    const std::int64_t count = sqlite3_column_int64(counts.get(), 1);
    if (count <= 0 || count > norm.size - clients) not_a_norm_file(path, "the counts of " + norm.scale + " do not add up to its size");
    norm.counts.emplace_back(sqlite3_column_int64(counts.get(), 0), count);
    clients += count;
  }
  if (clients != norm.size) not_a_norm_file(path, "the counts of " + norm.scale + " do not add up to its size");
}

NormGroup read_group(const Connection& db, const std::string& path) {
  if (db.single_integer("PRAGMA application_id") != application_id) not_a_norm_file(path, "it was not written as one");
  if (const std::int64_t version = db.single_integer("PRAGMA user_version"); version != layout_version) {
    not_a_norm_file(path, "its layout " + std::to_string(version) + " is not known here");
  }
  NormGroup group;
  Statement header = db.prepare("SELECT name, date FROM norm_group");
  if (!db.step(header.get())) not_a_norm_file(path, "it names no norm group");
  group.name = column_text(header.get(), 0);
  group.date = column_text(header.get(), 1);
  if (db.step(header.get())) not_a_norm_file(path, "it names more than one norm group");
  Statement scales = db.prepare("SELECT scale, size, mean, sd FROM norm_scale ORDER BY rowid");
  while (db.step(scales.get())) {
    ScaleNorm& norm = group.scales.emplace_back();
    norm.scale = column_text(scales.get(), 0);
    norm.size = sqlite3_column_int64(scales.get(), 1);
    norm.mean = sqlite3_column_double(scales.get(), 2);
    if (sqlite3_column_type(scales.get(), 3) != SQLITE_NULL) norm.sd = sqlite3_column_double(scales.get(), 3);
    read_counts(db, path, norm);
  }
  return group;
}

// A new, empty file beside `path` (so that the rename stays within one file system).
std::string temporary_beside(const std::string& path) {
  std::string name = path + ".XXXXXX";
  const int descriptor = ::mkstemp(name.data());
  if (descriptor < 0) throw std::system_error(errno, std::generic_category(), name);
  ::close(descriptor);
  return name;
}

}  // namespace

void write_norm_file(const std::string& path, const NormGroup& group) {
  const std::string temporary = temporary_beside(path);
  try {
    Connection db(temporary, SQLITE_OPEN_READWRITE);
    write_group(db, group);
    db.close();
    if (std::rename(temporary.c_str(), path.c_str()) != 0) throw std::system_error(errno, std::generic_category(), path);
  } catch (...) {
    std::remove(temporary.c_str());
    throw;
  }
}

NormGroup read_norm_file(const std::string& path) {
  Connection db(path, SQLITE_OPEN_READONLY);
  db.execute("BEGIN");
  NormGroup group = read_group(db, path);
  db.execute("COMMIT");
  return group;
}

std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &utc);
  return date;
}

}  // namespace psychometrics
