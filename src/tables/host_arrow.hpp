// Arrow data in and out of the host through the PyCapsule protocol: importing from any producer
// (pyarrow and polars among them), and table objects that any consumer reads without a copy.
#pragma once

#include "host/ref.hpp"
#include "tables/arrow.hpp"

#include <memory>
#include <optional>

namespace tables {

// Under the lock: the data of an object with `__arrow_c_stream__()`, or with `__arrow_c_array__()`
// as a stream of that one array; nullopt, with no error set, for an object with neither. A capsule
// of the wrong name or one already consumed is a ValueError.
std::optional<nanoarrow::UniqueArrayStream> import_arrow(PyObject* object);

// What a table object exports, as often as a consumer asks.
class TableExport {
 public:
  virtual ~TableExport() = default;
  // Both under the lock. The stream's callbacks, and its release, may later run on any thread,
  // with or without the lock: a stream that reaches host objects takes the lock itself.
  virtual nanoarrow::UniqueSchema schema() = 0;
  virtual nanoarrow::UniqueArrayStream stream() = 0;
  // The host objects it holds, for the host's cycle collector.
  virtual int traverse(visitproc, void*) { return 0; }
};

// The type of a module's table objects, named `qualified_name` (a static text such as
// "ardo_old.cohort.Table"): `__arrow_c_stream__(requested_schema=None)` and `__arrow_c_schema__()`.
// A requested schema is not followed: consumers get the table's own, as the protocol allows.
host::Ref new_table_type(PyObject* module, const char* qualified_name, const char* doc);

// A table object of a type from new_table_type.
host::Ref new_table(PyObject* type, std::unique_ptr<TableExport> source);

}  // namespace tables
