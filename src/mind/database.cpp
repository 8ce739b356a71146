#include "mind/database.hpp"

#include "mind/failure.hpp"
#include "mind/utf8.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

namespace mind {

namespace {

constexpr int lock_wait_ms = 5000;
// SQLite's steps between two looks at the stop check, which reads the clock and seldom more.
constexpr int steps_between_polls = 1000;
// The largest text or blob one value may hold: a valid key of 50,000 questions holds nothing
// longer than a few hundred bytes, and a 100 MB text cell is promised to work.
constexpr int longest_value = 256 * 1024 * 1024;
// What the tables kept whole may take together, texts included: a valid database of 50,000
// questions keeps about 20 MB of them.
constexpr std::size_t kept_tables_limit = std::size_t{1} << 30;

struct FinalizeStatement {
  void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

std::vector<std::string> column_names(sqlite3_stmt* st) {
  const int n = sqlite3_column_count(st);
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(st, i);
    if (name == nullptr) throw std::bad_alloc();
    // The host's sqlite3 fails the query on such a name, whether or not anything reads that column.
    if (!valid_utf8(reinterpret_cast<const unsigned char*>(name), std::strlen(name))) fail(UndecodableName{name});
    names.emplace_back(name);
  }
  return names;
}

template <class Rows>
Cell bytes_cell(Rows& rows, sqlite3_stmt* st, int i, sqlite3_value* value, bool text) {
  const void* data = text ? static_cast<const void*>(sqlite3_value_text(value)) : sqlite3_value_blob(value);
  const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
  if (data == nullptr && size > 0) throw std::bad_alloc();
  const auto* chars = static_cast<const char*>(data);
  if (text && !valid_utf8(static_cast<const unsigned char*>(data), size)) {
    // The host quotes the text as a C string: it stops at the first NUL.
    const char* column = sqlite3_column_name(st, i);
    fail(UndecodableText{column ? column : "", std::string(chars)});
  }
  const auto kept = rows.keep(chars, size);
  return text ? Cell::text(kept) : Cell::blob(kept);
}

// Each cell is fetched once as a value and read through it: every sqlite3_column_* call checks the
// statement and the column again, which cost more than stepping through a row of numbers. The
// value is unprotected, which is safe here because the connection never leaves the calling thread.
template <class Rows>
Cell read_cell(Rows& rows, sqlite3_stmt* st, int i) {
  sqlite3_value* value = sqlite3_column_value(st, i);
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return Cell::integer(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return Cell::real(sqlite3_value_double(value));
    case SQLITE_TEXT:
      return bytes_cell(rows, st, i, value, true);
    case SQLITE_BLOB:
      return bytes_cell(rows, st, i, value, false);
    default:
      return Cell();
  }
}

// Rows kept whole in a table, texts copied into its arena, all counted against what the
// connection's tables may take together.
class KeptRows {
 public:
  explicit KeptRows(std::size_t& kept_bytes) noexcept : kept_bytes_(kept_bytes) {}
  void start(std::vector<std::string> column_names) {
    row_bytes_ = column_names.size() * sizeof(Cell);
    table.emplace(std::move(column_names));
  }
  void begin_row() {
    count(row_bytes_);
    slots_ = table->add_row();
  }
  void set(std::size_t column, Cell cell) noexcept { slots_.set(column, cell); }
  void end_row() noexcept {}
  std::string_view keep(const char* data, std::size_t size) {
    count(size);
    return table->arena().keep(data, size);
  }

  std::optional<Table> table;

 private:
  void count(std::size_t bytes) {
    kept_bytes_ += bytes;
    if (kept_bytes_ > kept_tables_limit) fail(DatabaseFailed{SQLITE_NOMEM, "the tables kept take more than 1 GiB"});
  }

  std::size_t& kept_bytes_;
  std::size_t row_bytes_ = 0;
  Table::RowSlots slots_{nullptr, nullptr};
};

// Rows handed on one at a time. A text stays in SQLite's own buffer, which lasts until the next
// step, longer than the sink may look at the row.
class PassedRows {
 public:
  explicit PassedRows(RowSink& sink) noexcept : sink_(sink) {}
  void start(std::vector<std::string> column_names) {
    row_.resize(column_names.size());
    sink_.start(std::move(column_names));
  }
  void begin_row() noexcept {}
  void set(std::size_t column, Cell cell) noexcept { row_[column] = cell; }
  void end_row() { sink_.take_row(row_.data()); }
  static std::string_view keep(const char* data, std::size_t size) noexcept { return {data, size}; }

 private:
  RowSink& sink_;
  std::vector<Cell> row_;
};

int poll_stop(void* stop) { return static_cast<StopCheck*>(stop)->poll() ? 1 : 0; }

// SQLite's own schedule of sleeps for a busy file, with a look at the stop check before each.
int wait_for_lock(void* stop, int attempt) {
  static constexpr int delays[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};
  constexpr int last = static_cast<int>(std::size(delays)) - 1;
  int waited = 0;
  for (int i = 0; i < attempt; ++i) waited += delays[std::min(i, last)];
  if (waited >= lock_wait_ms || (stop != nullptr && static_cast<StopCheck*>(stop)->poll())) return 0;
  sqlite3_sleep(std::min(delays[std::min(attempt, last)], lock_wait_ms - waited));
  return 1;
}

}  // namespace

Database::Database(const char* path, StopCheck* stop) : stop_(stop) {
  const int rc = sqlite3_open_v2(path, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (db_ == nullptr) throw std::bad_alloc();
  if (rc != SQLITE_OK) {
    DatabaseFailed failure{sqlite3_extended_errcode(db_), sqlite3_errmsg(db_)};
    sqlite3_close(db_);
    db_ = nullptr;
    fail(std::move(failure));
  }
  sqlite3_busy_handler(db_, wait_for_lock, stop);
  if (stop != nullptr) sqlite3_progress_handler(db_, steps_between_polls, poll_stop, stop);
  try {
    harden();
  } catch (...) {
    // No destructor runs for a constructor that throws.
    sqlite3_close_v2(std::exchange(db_, nullptr));
    throw;
  }
}

// What SQLite advises for database files of unknown origin, where it changes no result on a
// valid file: no writes to the schema or shadow tables, no function with side effects called
// from a view or trigger, no file mapped into memory, every cell checked against its page, and
// no value longer than any valid key needs.
void Database::harden() {
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, longest_value);
  execute("PRAGMA mmap_size=0; PRAGMA cell_size_check=ON");
}

Database::~Database() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
}

void Database::fail_with(std::string_view sql) {
  if (stop_ != nullptr && stop_->stopped()) throw Stopped{};
  std::string message = "Execution failed on sql '";
  message.append(sql).append("': ").append(sqlite3_errmsg(db_));
  fail(DatabaseFailed{sqlite3_extended_errcode(db_), std::move(message)});
}

void Database::execute(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail_with(sql);
}

void Database::begin_read() { execute("BEGIN"); }

void Database::end_read() { execute("COMMIT"); }

template <class Rows>
void Database::read_rows(std::string_view name, Rows& rows) {
  const std::string sql = "SELECT * FROM " + std::string(name);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size() + 1), &raw, nullptr) != SQLITE_OK) fail_with(sql);
  Statement statement(raw);
  sqlite3_stmt* st = statement.get();
  rows.start(column_names(st));
  const int columns = sqlite3_column_count(st);
  for (;;) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) fail_with(sql);
    rows.begin_row();
    for (int i = 0; i < columns; ++i) rows.set(static_cast<std::size_t>(i), read_cell(rows, st, i));
    rows.end_row();
  }
}

Table Database::read_table(std::string_view name) {
  KeptRows rows(kept_bytes_);
  read_rows(name, rows);
  rows.table->finish();
  return std::move(*rows.table);
}

void Database::stream_table(std::string_view name, RowSink& sink) {
  PassedRows rows(sink);
  read_rows(name, rows);
}

void Database::close() {
  sqlite3* db = db_;
  db_ = nullptr;
  if (sqlite3_close(db) != SQLITE_OK) {
    DatabaseFailed failure{sqlite3_extended_errcode(db), sqlite3_errmsg(db)};
    sqlite3_close_v2(db);
    fail(std::move(failure));
  }
}

}  // namespace mind
