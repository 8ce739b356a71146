// Where the statistics meet the host: integer buffers read without the global lock, on threads for
// large inputs, the results as plain dicts and lists, the norm file's failures as the host's errors.
#include "host/arguments.hpp"
#include "host/errors.hpp"
#include "host/matrix.hpp"
#include "host/module_slots.hpp"
#include "psychometrics/battery_module.hpp"
#include "psychometrics/distributions.hpp"
#include "psychometrics/norm_file.hpp"
#include "psychometrics/norm_host.hpp"
#include "psychometrics/parallel.hpp"
#include "psychometrics/quality.hpp"
#include "psychometrics/reliability.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using host::PythonError;
using host::Ref;
using host::require;
using host::require_status;
namespace ps = psychometrics;

// A value of the buffer that is no score, met on any thread and raised once the lock is back.
struct OutOfRange {
  std::size_t row;
  std::size_t column;
  std::int64_t value;
};

constexpr std::int64_t lowest_score = std::numeric_limits<ps::Score>::min();
constexpr std::int64_t highest_score = std::numeric_limits<ps::Score>::max();

// The rows of a matrix as scores, through buffers of its own, for one thread.
class RowScores {
 public:
  explicit RowScores(const host::IntegerMatrix& matrix) : matrix_(matrix), wide_(matrix.columns()), scores_(matrix.columns()) {}

  std::span<const ps::Score> read(std::size_t row) {
    matrix_.read_row(row, wide_);
    for (std::size_t c = 0; c < wide_.size(); ++c) {
      if (wide_[c] < lowest_score || wide_[c] > highest_score) throw OutOfRange{row, c, wide_[c]};
      scores_[c] = static_cast<ps::Score>(wide_[c]);
    }
    return scores_;
  }

 private:
  const host::IntegerMatrix& matrix_;
  std::vector<std::int64_t> wide_;
  std::vector<ps::Score> scores_;
};

// Calls `body(part, rows)` for every part of the matrix's rows, on threads.
template <class Body>
void over_row_parts(const host::IntegerMatrix& matrix, std::size_t parts, const Body& body) {
  ps::run_parts(parts, [&](std::size_t part) {
    RowScores rows(matrix);
    const ps::RowRange range = ps::part_range(matrix.rows(), parts, part);
    for (std::size_t row = range.first; row < range.end; ++row) body(part, row, rows.read(row));
  });
}

// The sums merge exactly, so they are the same for any number of threads.
ps::ScaleSums gather_sums(const host::IntegerMatrix& matrix, std::size_t threads) {
  const std::size_t parts = ps::part_count(matrix.rows(), threads);
  std::vector<ps::ScaleSums> sums(parts, ps::ScaleSums(matrix.columns()));
  over_row_parts(matrix, parts, [&](std::size_t part, std::size_t, std::span<const ps::Score> scores) { sums[part].add(scores); });
  for (std::size_t part = 1; part < parts; ++part) sums[0].merge(sums[part]);
  return std::move(sums[0]);
}

// Runs `work` without the global lock; a value out of range becomes the host's ValueError.
template <class Work>
auto unlocked_over(const char* name, Work&& work) {
  try {
    host::ReleasedLock unlocked;
    return work();
  } catch (const OutOfRange& bad) {
    PyErr_Format(PyExc_ValueError, "%s[%zu, %zu] is %lld, outside %lld to %lld", name, bad.row, bad.column,
                 static_cast<long long>(bad.value), static_cast<long long>(lowest_score), static_cast<long long>(highest_score));
    throw PythonError{};
  }
}

// Host values. A statistic that is not a finite number (none of ours should be) is null.
Ref real(const std::optional<double>& value) {
  if (!value || !std::isfinite(*value)) return Ref::owning(Py_None);
  return require(PyFloat_FromDouble(*value));
}

Ref integer(std::int64_t value) { return require(PyLong_FromLongLong(value)); }

Ref text(const std::string& value) {
  return require(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), nullptr));
}

Ref text_or_none(const std::string& value) { return value.empty() ? Ref::owning(Py_None) : text(value); }

void set(PyObject* dict, const char* key, const Ref& value) { require_status(PyDict_SetItemString(dict, key, value.get())); }

Ref new_dict() { return require(PyDict_New()); }

void append(PyObject* list, const Ref& value) { require_status(PyList_Append(list, value.get())); }

// Parses (first, *, threads=None), the form of the functions over a matrix.
PyObject* matrix_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* first, std::size_t& threads) {
  const char* keywords[] = {first, "threads", nullptr};
  PyObject* object = nullptr;
  PyObject* thread_argument = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &object, &thread_argument)) {
    throw PythonError{};
  }
  threads = host::thread_count(thread_argument);
  return object;
}

Ref scale_dict(const ps::ScaleStatistics& scale) {
  Ref dict = new_dict();
  set(dict.get(), "k", integer(static_cast<std::int64_t>(scale.k)));
  set(dict.get(), "n", integer(scale.n));
  set(dict.get(), "mean", real(scale.mean));
  set(dict.get(), "sd", real(scale.sd));
  set(dict.get(), "alpha", real(scale.alpha));
  set(dict.get(), "alpha_low", real(scale.alpha_low));
  set(dict.get(), "alpha_high", real(scale.alpha_high));
  set(dict.get(), "g6", real(scale.g6));
  set(dict.get(), "average_r", real(scale.average_r));
  set(dict.get(), "sem", real(scale.sem));
  return dict;
}

Ref item_dict(const ps::ItemStatistics& item) {
  Ref dict = new_dict();
  set(dict.get(), "mean", real(item.mean));
  set(dict.get(), "sd", real(item.sd));
  set(dict.get(), "r_drop", real(item.r_drop));
  set(dict.get(), "alpha_if_dropped", real(item.alpha_if_dropped));
  set(dict.get(), "flag", text_or_none(item.flag));
  return dict;
}

PyObject* reliability(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    std::size_t threads = 0;
    const host::IntegerMatrix matrix(matrix_arguments(args, kwargs, "O|$O:reliability", "items", threads), "items");
    const ps::ScaleStatistics scale = unlocked_over("items", [&] { return ps::reliability(gather_sums(matrix, threads)); });
    Ref items = require(PyList_New(0));
    for (const ps::ItemStatistics& item : scale.items) append(items.get(), item_dict(item));
    Ref result = new_dict();
    set(result.get(), "scale", scale_dict(scale));
    set(result.get(), "items", items);
    return result.release();
  });
}

struct CohortQuality {
  std::vector<ps::ClientQuality> clients;
  ps::Fences fences;
  std::size_t rank = 0;
};

// Two passes over the answers: the cohort's means and covariance, then each client against them.
CohortQuality cohort_quality(const host::IntegerMatrix& matrix, std::size_t threads) {
  const ps::AnswerModel model(gather_sums(matrix, threads));
  CohortQuality cohort{std::vector<ps::ClientQuality>(matrix.rows()), {}, model.rank()};
  over_row_parts(matrix, ps::part_count(matrix.rows(), threads), [&](std::size_t, std::size_t row, std::span<const ps::Score> answers) {
    cohort.clients[row] = ps::client_quality(answers, model);
  });
  cohort.fences = ps::cohort_fences(cohort.clients);
  ps::flag_clients(cohort.clients, cohort.fences);
  return cohort;
}

Ref client_dict(const ps::ClientQuality& client) {
  Ref dict = new_dict();
  set(dict.get(), "longstring", integer(client.longstring));
  set(dict.get(), "irv", real(client.irv));
  set(dict.get(), "mahalanobis_d2", real(client.mahalanobis_d2));
  set(dict.get(), "mahalanobis_p", real(client.mahalanobis_p));
  set(dict.get(), "flag", text_or_none(client.flag));
  return dict;
}

Ref cohort_dict(const CohortQuality& cohort, const host::IntegerMatrix& matrix) {
  Ref dict = new_dict();
  set(dict.get(), "n", integer(static_cast<std::int64_t>(matrix.rows())));
  set(dict.get(), "questions", integer(static_cast<std::int64_t>(matrix.columns())));
  set(dict.get(), "rank", integer(static_cast<std::int64_t>(cohort.rank)));
  set(dict.get(), "longstring_fence", real(cohort.clients.empty() ? std::nullopt : std::optional(cohort.fences.longstring_high)));
  set(dict.get(), "irv_low_fence", real(cohort.fences.irv_low));
  set(dict.get(), "irv_high_fence", real(cohort.fences.irv_high));
  return dict;
}

PyObject* response_quality(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    std::size_t threads = 0;
    const host::IntegerMatrix matrix(matrix_arguments(args, kwargs, "O|$O:response_quality", "answers", threads), "answers");
    const CohortQuality cohort = unlocked_over("answers", [&] { return cohort_quality(matrix, threads); });
    Ref clients = require(PyList_New(0));
    for (const ps::ClientQuality& client : cohort.clients) append(clients.get(), client_dict(client));
    Ref result = new_dict();
    set(result.get(), "cohort", cohort_dict(cohort, matrix));
    set(result.get(), "clients", clients);
    return result.release();
  });
}

std::string utf8_of(PyObject* object, const char* what) {
  if (!PyUnicode_Check(object)) {
    Ref type = require(PyType_GetName(Py_TYPE(object)));
    PyErr_Format(PyExc_TypeError, "%s must be str, not %U", what, type.get());
    throw PythonError{};
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) throw PythonError{};
  return {data, static_cast<std::size_t>(size)};
}

std::int64_t integer_of(PyObject* object) {
  Ref index = require(PyNumber_Index(object));
  const long long value = PyLong_AsLongLong(index.get());
  if (value == -1 && PyErr_Occurred()) throw PythonError{};
  return value;
}

ps::ScaleNorm norm_of(PyObject* scale, PyObject* totals) {
  std::string name = utf8_of(scale, "a scale's name");
  Ref iterator = require(PyObject_GetIter(totals));
  ps::TotalCounts counts;
  while (Ref total = Ref::consuming(PyIter_Next(iterator.get()))) counts.add(integer_of(total.get()));
  if (PyErr_Occurred()) throw PythonError{};
  if (counts.counts().empty()) {
    PyErr_Format(PyExc_ValueError, "the norm group has no totals of scale %R", scale);
    throw PythonError{};
  }
  return ps::scale_norm(std::move(name), counts);
}

// YYYY-MM-DD, as the file keeps it.
std::string date_of(PyObject* date) {
  if (date == nullptr || date == Py_None) return ps::today();
  std::string text = utf8_of(date, "date");
  const bool iso = text.size() == 10 && text[4] == '-' && text[7] == '-' &&
                   std::all_of(text.begin(), text.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!iso) {
    PyErr_Format(PyExc_ValueError, "date must read YYYY-MM-DD, not %R", date);
    throw PythonError{};
  }
  return text;
}

std::string group_name(PyObject* name, const char* function) {
  if (name == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() missing required keyword-only argument: 'name'", function);
    throw PythonError{};
  }
  return utf8_of(name, "name");
}

PyObject* write_norms(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    static const char* keywords[] = {"path", "totals", "name", "date", nullptr};
    PyObject* path = nullptr;
    PyObject* totals = nullptr;
    PyObject* name = nullptr;
    PyObject* date = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$OO:write_norms", const_cast<char**>(keywords), &path, &totals, &name, &date)) {
      throw PythonError{};
    }
    ps::NormGroup group{group_name(name, "write_norms"), date_of(date), {}};
    Ref scales = require(PyMapping_Items(totals));
    for (Py_ssize_t i = 0; i < PyList_Size(scales.get()); ++i) {
      PyObject* pair = PyList_GetItem(scales.get(), i);  // borrowed
      group.scales.push_back(norm_of(PyTuple_GetItem(pair, 0), PyTuple_GetItem(pair, 1)));
    }
    norm_host::write_group(path, group);
    return Py_NewRef(Py_None);
  });
}

PyObject* build_norms(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    static const char* keywords[] = {"database", "answers", "path", "name", "date", "threads", nullptr};
    PyObject* database = nullptr;
    PyObject* answers = nullptr;
    PyObject* path = nullptr;
    PyObject* name = nullptr;
    PyObject* date = nullptr;
    PyObject* threads = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|$OOO:build_norms", const_cast<char**>(keywords), &database, &answers, &path,
                                     &name, &date, &threads)) {
      throw PythonError{};
    }
    std::string group = group_name(name, "build_norms");
    norm_host::write_group(path, battery_module::cohort_norms(database, answers, threads, std::move(group), date_of(date)));
    return Py_NewRef(Py_None);
  });
}

Ref counts_dict(const ps::ScaleNorm& norm) {
  Ref dict = new_dict();
  for (const auto& [score, count] : norm.counts) {
    Ref key = integer(score);
    require_status(PyDict_SetItem(dict.get(), key.get(), integer(count).get()));
  }
  return dict;
}

PyObject* read_norms(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    const ps::NormGroup group = norm_host::read_group(host::single_argument(args, kwargs, "read_norms", "path"));
    Ref scales = new_dict();
    for (const ps::ScaleNorm& norm : group.scales) {
      Ref dict = new_dict();
      set(dict.get(), "size", integer(norm.size));
      set(dict.get(), "mean", real(norm.mean));
      set(dict.get(), "sd", real(norm.sd));
      set(dict.get(), "counts", counts_dict(norm));
      require_status(PyDict_SetItem(scales.get(), text(norm.scale).get(), dict.get()));
    }
    Ref result = new_dict();
    set(result.get(), "name", text(group.name));
    set(result.get(), "date", text(group.date));
    set(result.get(), "scales", scales);
    return result.release();
  });
}

const ps::ScaleNorm& norm_named(const ps::NormGroup& group, PyObject* scale) {
  const std::string name = utf8_of(scale, "a scale's name");
  for (const ps::ScaleNorm& norm : group.scales) {
    if (norm.scale == name) return norm;
  }
  host::raise_with(PyExc_KeyError, scale);
}

Ref range_name(ps::Range range) {
  switch (range) {
    case ps::Range::below: return text("below");
    case ps::Range::above: return text("above");
    case ps::Range::inside: break;
  }
  return Ref::owning(Py_None);
}

Ref optional_integer(const std::optional<int>& value) { return value ? integer(*value) : Ref::owning(Py_None); }

Ref normed_dict(const ps::NormedScore& normed) {
  Ref dict = new_dict();
  set(dict.get(), "percentile", real(normed.percentile));
  set(dict.get(), "t", real(normed.t));
  set(dict.get(), "sten", optional_integer(normed.sten));
  set(dict.get(), "stanine", optional_integer(normed.stanine));
  set(dict.get(), "range", range_name(normed.range));
  return dict;
}

PyObject* norm_scores(PyObject*, PyObject* args, PyObject* kwargs) {
  return host::boundary([&] {
    static const char* keywords[] = {"path", "totals", nullptr};
    PyObject* path = nullptr;
    PyObject* totals = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:norm_scores", const_cast<char**>(keywords), &path, &totals)) {
      throw PythonError{};
    }
    const ps::NormGroup group = norm_host::read_group(path);
    Ref scores = require(PyMapping_Items(totals));
    Ref scales = new_dict();
    for (Py_ssize_t i = 0; i < PyList_Size(scores.get()); ++i) {
      PyObject* pair = PyList_GetItem(scores.get(), i);  // borrowed
      PyObject* scale = PyTuple_GetItem(pair, 0);
      const ps::ScaleNorm& norm = norm_named(group, scale);
      require_status(PyDict_SetItem(scales.get(), scale, normed_dict(ps::normed_score(norm, integer_of(PyTuple_GetItem(pair, 1)))).get()));
    }
    Ref result = new_dict();
    set(result.get(), "group", text(group.name));
    set(result.get(), "date", text(group.date));
    set(result.get(), "scales", scales);
    return result.release();
  });
}

// For the comparison with R's qf: the quantile behind Feldt's interval, on its own.
PyObject* f_quantile(PyObject*, PyObject* args) {
  double p = 0;
  double df1 = 0;
  double df2 = 0;
  if (!PyArg_ParseTuple(args, "ddd:_f_quantile", &p, &df1, &df2)) return nullptr;
  return PyFloat_FromDouble(ps::f_quantile(p, df1, df2));
}

template <class Function>
PyCFunction c_function(Function function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function));
}

PyMethodDef methods[] = {
    {"reliability", c_function(reliability), METH_VARARGS | METH_KEYWORDS,
     "reliability(items, *, threads=None)\n--\n\n"
     "The reliability of one scale and the analysis of its items, as R psych's alpha() gives them.\n\n"
     "`items`: a 2-D integer buffer (a numpy array of int8 to int64, contiguous or strided), one row\n"
     "per client and one column per item, scores from -32768 to 32767. Returns {\"scale\": {k, n, mean,\n"
     "sd, alpha, alpha_low, alpha_high, g6, average_r, sem}, \"items\": [{mean, sd, r_drop,\n"
     "alpha_if_dropped, flag}, ...]}, a statistic that cannot be had being None. `threads`: the\n"
     "threads that read the rows (default: the usable CPUs); the results do not depend on it."},
    {"response_quality", c_function(response_quality), METH_VARARGS | METH_KEYWORDS,
     "response_quality(answers, *, threads=None)\n--\n\n"
     "Response-quality indices of each client against the cohort: longstring, irv (the sd of the\n"
     "client's answers), mahalanobis_d2 and its chi-square mahalanobis_p, and a flag.\n\n"
     "`answers`: a 2-D integer buffer, one row per client, one column per question. Returns\n"
     "{\"cohort\": {n, questions, rank, longstring_fence, irv_low_fence, irv_high_fence},\n"
     "\"clients\": [{longstring, irv, mahalanobis_d2, mahalanobis_p, flag}, ...]}."},
    {"write_norms", c_function(write_norms), METH_VARARGS | METH_KEYWORDS,
     "write_norms(path, totals, *, name, date=None)\n--\n\n"
     "Write a norm file: for each scale of `totals` (a mapping of scale names to the norm group's\n"
     "totals, integers) its size, mean, sd and score counts, under the group's `name` and `date`\n"
     "(YYYY-MM-DD; default: today, UTC). An existing file at `path` is replaced whole."},
    {"read_norms", c_function(read_norms), METH_VARARGS | METH_KEYWORDS,
     "read_norms(path)\n--\n\n"
     "The norm group of a norm file: {\"name\", \"date\", \"scales\": {scale: {size, mean, sd, counts}}}."},
    {"norm_scores", c_function(norm_scores), METH_VARARGS | METH_KEYWORDS,
     "norm_scores(path, totals)\n--\n\n"
     "A client's totals (a mapping of scale names to integers) against the norm file's group:\n"
     "{\"group\", \"date\", \"scales\": {scale: {percentile, t, sten, stanine, range}}}; `range` is\n"
     "\"below\" or \"above\" for a total outside the group's, otherwise None."},
    {"build_norms", c_function(build_norms), METH_VARARGS | METH_KEYWORDS,
     "build_norms(database, answers, path, *, name, date=None, threads=None)\n--\n\n"
     "Write the norm file of a norm group from its answers: every scale of the battery, its totals\n"
     "over the clients that scored. `answers` as item_analysis takes them; `name` and `date` as\n"
     "write_norms takes them."},
    {"scales", c_function(battery_module::scales), METH_O,
     "scales(database, /)\n--\n\n"
     "The battery's scales, each a sum of per-question points, in report order: {scale, questions\n"
     "(from 1), points (for answers 1 to 4, per question), lowest, highest, maximum}. A scale is\n"
     "named by the report field of its value; maximum is what an aspect's or a space's percentage\n"
     "divides its total by, else None."},
    {"item_scores", c_function(battery_module::item_scores), METH_VARARGS | METH_KEYWORDS,
     "item_scores(database, answers, scale, *, threads=None)\n--\n\n"
     "The points each question gives `scale` for each client: (question numbers from 1, a matrix\n"
     "of 64-bit integers, a row per client that scored, a column per question, with the buffer\n"
     "protocol). Its `clients` gives each row's position among the clients. `answers`: a 2-D\n"
     "integer buffer, Arrow data (a column per question, or a list column), or an iterable of\n"
     "clients with `user_responses`. A client whose scoring fails has no row."},
    {"scale_totals", c_function(battery_module::scale_totals), METH_VARARGS | METH_KEYWORDS,
     "scale_totals(database, answers, *, threads=None)\n--\n\n"
     "Every scale's total for each client that scored: (scale names, a matrix as item_scores\n"
     "gives, a column per scale). A pole count's total is its count, an aspect's or a space's the\n"
     "sum of its skills."},
    {"item_analysis", c_function(battery_module::item_analysis), METH_VARARGS | METH_KEYWORDS,
     "item_analysis(database, answers, *, threads=None)\n--\n\n"
     "Reliability and item analysis of every scale of the battery over a cohort, in one pass over\n"
     "the answers. Returns an ItemAnalysis: `scales` and `items`, tables with the Arrow C stream\n"
     "interface and to_pandas()/to_polars(), `clients` (scored) and `failed` (left out)."},
    {"_f_quantile", c_function(f_quantile), METH_VARARGS, "_f_quantile(p, df1, df2, /)\n--\n\nThe F quantile, as R's qf."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ardo_old.psychometrics",
    "Reliability, item analysis, norms and response quality of an instrument's scales.",
    battery_module::state_size,
    methods,
    host::module_slots<battery_module::exec>,
    battery_module::traverse,
    battery_module::clear,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_psychometrics() { return PyModuleDef_Init(&definition); }
