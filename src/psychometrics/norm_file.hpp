// The norm file: a small SQLite database that holds one norm group.
//
//   PRAGMA application_id = 0x4E524D31  -- "NRM1": the file is a norm file
//   PRAGMA user_version = 1             -- of this layout
//   CREATE TABLE norm_group (name TEXT NOT NULL, date TEXT NOT NULL);  -- exactly one row; date YYYY-MM-DD
//   CREATE TABLE norm_scale (scale TEXT PRIMARY KEY, size INTEGER NOT NULL CHECK (size > 0),
//                            mean REAL NOT NULL, sd REAL);             -- sd null for a group of one
//   CREATE TABLE norm_count (scale TEXT NOT NULL REFERENCES norm_scale (scale), score INTEGER NOT NULL,
//                            count INTEGER NOT NULL CHECK (count > 0),
//                            PRIMARY KEY (scale, score)) WITHOUT ROWID;  -- the percentile table
//
// The scales keep their order (norm_scale's rowid). Each scale's counts add up to its size.
#pragma once

#include "psychometrics/norms.hpp"

#include <stdexcept>
#include <string>

namespace psychometrics {

// A file that cannot be read or written as a norm file. `sqlite_code` is SQLite's extended result
// code when SQLite failed, 0 when the file is readable but holds no valid norm group; an operating
// system failure (of the temporary file or the rename) comes as std::system_error instead.
struct NormFileError : std::runtime_error {
  NormFileError(int code, const std::string& message) : std::runtime_error(message), sqlite_code(code) {}
  int sqlite_code;
};

// Writes the group to a new file beside `path` and renames it over `path`, so a reader never sees a
// half-written file and a failure leaves what was there.
void write_norm_file(const std::string& path, const NormGroup& group);

// Reads a norm file, opened read-only; a missing file is an SQLite failure (SQLITE_CANTOPEN).
NormGroup read_norm_file(const std::string& path);

// Today's date in UTC as YYYY-MM-DD, the date a group is stamped with unless it is given one.
std::string today();

}  // namespace psychometrics
