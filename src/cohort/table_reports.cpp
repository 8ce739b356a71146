// The results of a cohort read back from any Arrow table that holds them: the report's shape from
// the schema's metadata, each client's values from its row, checked against what the shape wants.
#include "cohort/result_table.hpp"
#include "cohort/score_table.hpp"
#include "host/calls.hpp"
#include "host/errors.hpp"
#include "tables/host_answers.hpp"
#include "tables/host_arrow.hpp"
#include "tables/reading.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cohort {

namespace {

using host::PythonError;
using host::Ref;
using host::require;
using tables::Invalid;
using tables::ValueKind;

// The report's shape, compiled: constants are shared by every report (they are immutable), and
// each field stands for a column of the reader.
struct Node {
  enum class Kind : std::uint8_t { Constant, Field, List, Map } kind = Kind::Constant;
  Ref constant;
  std::size_t column = 0;
  std::vector<Node> items;  // of a list, or the values of a map
  std::vector<Ref> keys;    // of a map
};

bool is_tag(PyObject* tuple, const char* tag) {
  PyObject* first = PyTuple_GetItem(tuple, 0);
  return first != nullptr && PyUnicode_Check(first) && PyUnicode_CompareWithASCIIString(first, tag) == 0;
}

std::string text_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) throw PythonError{};
  return {data, static_cast<std::size_t>(size)};
}

class Reports {
 public:
  explicit Reports(tables::TableReader& reader) : reader_(reader) {
    const auto format = reader.metadata_value(cohort_table::format_key);
    if (!format) throw Invalid("the table holds no cohort results: its schema has no \"ardo_old.format\" metadata");
    if (*format != cohort_table::format_version) throw Invalid("the table's results are of format " + std::string(*format) + ", not 1");
    id_ = column("client_id", {ValueKind::Integer, ValueKind::Text, ValueKind::Bytes, ValueKind::Null});
    error_type_ = column("error.type", {ValueKind::Text, ValueKind::Null});
    error_detail_ = column("error.detail", {ValueKind::Text, ValueKind::Null});
    const std::string shape(reader.metadata_value(cohort_table::shape_key).value_or("null"));
    Ref text = require(PyUnicode_DecodeUTF8(shape.data(), static_cast<Py_ssize_t>(shape.size()), "strict"));
    codec_ = require(PyImport_ImportModule("ardo_old._table_codec"));
    Ref loaded = host::call_method(codec_.get(), "load_shape", text.get());
    if (loaded.get() != Py_None) {
      shape_ = compile(loaded.get());
      if (shape_->kind != Node::Kind::Map) throw Invalid("the table's report shape is not a map");
    }
  }

  // Row `row` of the reader's batch: the client's report, or its error.
  Ref result(std::int64_t row) {
    ++position_;
    if (reader_.row_is_null(row)) fail_row("is null as a whole");
    const tables::ColumnReader& type = reader_.column(error_type_);
    if (!type.is_null(row)) {
      Ref name = text(type, row);
      const tables::ColumnReader& detail = reader_.column(error_detail_);
      Ref details = detail.is_null(row) ? Ref::owning(Py_None) : text(detail, row);
      return host::call_method(codec_.get(), "rebuild", name.get(), details.get());
    }
    if (!shape_) fail_row("has no error, but no client could score on the table's database");
    Ref report = require(PyDict_New());
    host::require_status(PyDict_SetItemString(report.get(), "client_id", client_id(row).get()));
    add_entries(report.get(), *shape_, row);
    return report;
  }

 private:
  std::size_t column(const char* name, std::initializer_list<ValueKind> kinds) const {
    const auto found = reader_.find(name);
    if (!found) throw Invalid(std::string("the table has no column \"") + name + "\"");
    const ValueKind kind = reader_.column(*found).kind();
    for (const ValueKind k : kinds) {
      if (k == kind) return *found;
    }
    throw Invalid(std::string("the column \"") + name + "\" holds values of another type than cohort results do");
  }

  Node compile(PyObject* data) {
    Node node;
    if (PyList_Check(data)) {
      node.kind = Node::Kind::List;
      for (Py_ssize_t i = 0; i < PyList_Size(data); ++i) node.items.push_back(compile(PyList_GetItem(data, i)));
    } else if (PyTuple_Check(data) && is_tag(data, "map")) {
      node.kind = Node::Kind::Map;
      PyObject* entries = PyTuple_GetItem(data, 1);
      for (Py_ssize_t i = 0; i < PyList_Size(entries); ++i) {
        PyObject* entry = PyList_GetItem(entries, i);
        node.keys.push_back(Ref::owning(PyTuple_GetItem(entry, 0)));
        node.items.push_back(compile(PyTuple_GetItem(entry, 1)));
      }
    } else if (PyTuple_Check(data) && is_tag(data, "field")) {
      node.kind = Node::Kind::Field;
      const std::string type = text_of(PyTuple_GetItem(data, 2));
      const ValueKind kind = type == "int" ? ValueKind::Integer : type == "float" ? ValueKind::Real : ValueKind::Text;
      node.column = column(text_of(PyTuple_GetItem(data, 1)).c_str(), {kind});
    } else {
      node.constant = Ref::owning(data);
    }
    return node;
  }

  Ref value(const Node& node, std::int64_t row) {
    switch (node.kind) {
      case Node::Kind::Constant: return node.constant;
      case Node::Kind::List: {
        Ref list = require(PyList_New(static_cast<Py_ssize_t>(node.items.size())));
        for (std::size_t i = 0; i < node.items.size(); ++i) PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), value(node.items[i], row).release());
        return list;
      }
      case Node::Kind::Map: {
        Ref dict = require(PyDict_New());
        add_entries(dict.get(), node, row);
        return dict;
      }
      case Node::Kind::Field: break;
    }
    const tables::ColumnReader& column = reader_.column(node.column);
    if (column.is_null(row)) fail_row("has no value in \"" + column.name() + "\", though its client scored");
    switch (column.kind()) {
      case ValueKind::Integer: return tables::integer_object(column.integer(row));
      case ValueKind::Real: return require(PyFloat_FromDouble(column.real(row)));
      default: return text(column, row);
    }
  }

  void add_entries(PyObject* dict, const Node& map, std::int64_t row) {
    for (std::size_t i = 0; i < map.items.size(); ++i) host::require_status(PyDict_SetItem(dict, map.keys[i].get(), value(map.items[i], row).get()));
  }

  Ref client_id(std::int64_t row) const {
    const tables::ColumnReader& column = reader_.column(id_);
    if (column.kind() == ValueKind::Null || column.is_null(row)) return Ref::owning(Py_None);
    if (column.kind() == ValueKind::Integer) return tables::integer_object(column.integer(row));
    if (column.kind() == ValueKind::Bytes) {
      const std::string_view bytes = column.bytes(row);
      return require(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
    }
    return text(column, row);
  }

  static Ref text(const tables::ColumnReader& column, std::int64_t row) {
    const std::string_view bytes = column.bytes(row);
    return require(PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "strict"));
  }

  [[noreturn]] void fail_row(const std::string& why) const {
    throw Invalid("row " + std::to_string(position_ - 1) + " of the table " + why);
  }

  tables::TableReader& reader_;
  Ref codec_;
  std::size_t id_ = 0;
  std::size_t error_type_ = 0;
  std::size_t error_detail_ = 0;
  std::optional<Node> shape_;
  std::size_t position_ = 0;
};

}  // namespace

PyObject* table_reports(PyObject*, PyObject* table) {
  return host::boundary([&] {
    auto stream = tables::import_arrow(table);
    if (!stream) {
      host::raise_naming_type(PyExc_TypeError, "table_reports() takes a table that exports Arrow data (__arrow_c_stream__), not %U", table);
    }
    try {
      tables::TableReader reader(std::move(*stream));
      Reports reports(reader);
      Ref results = require(PyList_New(0));
      while (reader.next()) {
        for (std::int64_t row = 0; row < reader.rows(); ++row) host::require_status(PyList_Append(results.get(), reports.result(row).get()));
      }
      return results.release();
    } catch (const Invalid& invalid) {
      tables::raise_invalid(invalid);
    }
  });
}

}  // namespace cohort
