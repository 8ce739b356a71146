// The assessment database: one connection for one scoring run, read through SQLite's C API.
#pragma once

#include "mind/stop.hpp"
#include "mind/table.hpp"

#include <memory>
#include <string_view>

struct sqlite3;

namespace mind {

class Database {
 public:
  // Opens for reading and writing, creating an empty database where no file is, as the host's
  // sqlite3.connect does; a writer's lock is waited for up to 5 seconds. The file may come from
  // anyone: the connection is hardened against what such a file can ask of it. `stop`, when
  // given, is asked between steps of every statement and while waiting for a lock; once it says
  // stop, the statement is interrupted and the read unwinds with Stopped.
  explicit Database(const char* path, StopCheck* stop = nullptr);
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // One read transaction around all the reads, so they all see one committed state of the file.
  void begin_read();
  void end_read();
  // Every row and column of the table, through "SELECT * FROM " and the name as it stands.
  Table read_table(std::string_view name);
  // The same rows handed to `sink` one at a time and kept nowhere, for a table that is only
  // tallied; cells are read and checked as read_table reads and checks them.
  void stream_table(std::string_view name, RowSink& sink);
  // Closes now so that a failure to close reaches the caller; the destructor is only the safety net.
  void close();

 private:
  [[noreturn]] void fail_with(std::string_view sql);
  void execute(const char* sql);
  void harden();
  template <class Rows>
  void read_rows(std::string_view name, Rows& rows);

  sqlite3* db_ = nullptr;
  StopCheck* stop_ = nullptr;
  std::size_t kept_bytes_ = 0;  // of every table this connection has read whole
};

}  // namespace mind
