// What the Arrow tables cost: record batches built row by row and streamed to a consumer that lets
// go of each batch, then the same stream read back value by value.
//
//   ardo_tables_bench [ROWS] [BATCH_ROWS]      (default: 1,000,000 rows in batches of 8,192)
//
// Prints, for tables of 150 columns of one type, nanoseconds of CPU time per cell (a row's value in one column)
// to build and to read; then for a mixed table shaped like a cohort's results (scores, percentages,
// levels, a few texts, one null in 50) the CPU seconds for all rows and the peak resident size after the
// first batch and at the end, which stay close when the stream runs in flat memory.
#include "tables/reading.hpp"
#include "tables/stream.hpp"

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t columns = 150;

// Time on this thread's CPU: on a shared machine, wall time also counts the neighbours' turns.
double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long peak_resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

const std::vector<std::string> levels = {"Development Priority", "Intermediate", "Advanced", "rebalanced", "INFJ"};

// Column c's type in the mixed table: 60 scores, 40 percentages, 45 levels, 5 titles.
tables::ColumnType mixed_type(std::size_t c) {
  if (c < 60) return tables::ColumnType::Int64;
  if (c < 100) return tables::ColumnType::Float64;
  if (c < 145) return tables::ColumnType::Dictionary;
  return tables::ColumnType::Utf8;
}

tables::TableLayout layout_of(tables::ColumnType (*type)(std::size_t)) {
  tables::TableLayout layout;
  for (std::size_t c = 0; c < columns; ++c) layout.columns.push_back({"Spaces.Some Space.Column " + std::to_string(c), type(c)});
  layout.metadata = {{"ardo_old", "{\"what depends only on the database\": true}"}};
  return layout;
}

// Rows of made-up values, appended as a cohort's results would be: row by row, column by column.
class Rows final : public tables::BatchSource {
 public:
  Rows(std::int64_t rows, bool with_nulls) : rows_(rows), with_nulls_(with_nulls) {}

  bool fill(tables::BatchBuilder& batch, std::int64_t max_rows) override {
    if (next_ == rows_) return false;
    if (builders_.empty()) bind(batch);
    for (std::int64_t n = 0; n < max_rows && next_ < rows_; ++n, ++next_) add_row(next_);
    return true;
  }

 private:
  struct Column {
    tables::ColumnType type;
    tables::ColumnBuilder* builder;
    std::vector<std::int32_t> codes;
  };

  void bind(tables::BatchBuilder& batch) {
    for (std::size_t c = 0; c < batch.columns(); ++c) {
      Column column{tables::ColumnType::Null, &batch.column<tables::ColumnBuilder>(c), {}};
      if (auto* d = dynamic_cast<tables::DictionaryBuilder*>(column.builder)) {
        column.type = tables::ColumnType::Dictionary;
        for (const std::string& level : levels) column.codes.push_back(d->code(level));
      } else if (dynamic_cast<tables::Int64Builder*>(column.builder)) {
        column.type = tables::ColumnType::Int64;
      } else if (dynamic_cast<tables::Float64Builder*>(column.builder)) {
        column.type = tables::ColumnType::Float64;
      } else if (dynamic_cast<tables::BoolBuilder*>(column.builder)) {
        column.type = tables::ColumnType::Bool;
      } else {
        column.type = tables::ColumnType::Utf8;
      }
      builders_.push_back(std::move(column));
    }
  }

  // Values come from a small table, so that making them costs next to nothing beside appending them.
  static std::int64_t value_at(std::int64_t r, std::size_t c) {
    static const auto table = [] {
      std::vector<std::int64_t> values(256);
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int64_t>((i * 31) % 97);
      return values;
    }();
    return table[(static_cast<std::size_t>(r) + c) & 255];
  }

  void add_row(std::int64_t r) {
    for (std::size_t c = 0; c < builders_.size(); ++c) {
      Column& column = builders_[c];
      const std::int64_t v = value_at(r, c);
      if (with_nulls_ && v % 50 == 13) {
        column.builder->append_null();
        continue;
      }
      switch (column.type) {
        case tables::ColumnType::Int64:
          static_cast<tables::Int64Builder*>(column.builder)->append(v);
          break;
        case tables::ColumnType::Float64:
          static_cast<tables::Float64Builder*>(column.builder)->append(static_cast<double>(v) * 1.0625);
          break;
        case tables::ColumnType::Bool:
          static_cast<tables::BoolBuilder*>(column.builder)->append(v % 2 == 0);
          break;
        case tables::ColumnType::Dictionary:
          static_cast<tables::DictionaryBuilder*>(column.builder)->append_code(column.codes[static_cast<std::size_t>(v) % column.codes.size()]);
          break;
        default:
          static_cast<tables::BytesBuilder*>(column.builder)->append(levels[static_cast<std::size_t>(v) % levels.size()]);
      }
    }
  }

  std::int64_t rows_;
  bool with_nulls_;
  std::int64_t next_ = 0;
  std::vector<Column> builders_;
};

struct Timing {
  double build_seconds;
  double read_seconds;
  long first_batch_kib;
  long end_kib;
};

// Builds the stream and lets go of every batch, then builds it again and reads every value back.
Timing measure(const tables::TableLayout& layout, std::int64_t rows, std::int64_t batch_rows, bool with_nulls) {
  Timing t{};
  {
    nanoarrow::UniqueArrayStream stream = tables::make_stream(layout, std::make_unique<Rows>(rows, with_nulls), batch_rows);
    const double start = cpu_seconds();
    for (bool first = true;; first = false) {
      nanoarrow::UniqueArray batch;
      tables::check(stream->get_next(stream.get(), batch.get()), "a batch");
      if (batch->release == nullptr) break;
      if (first) t.first_batch_kib = peak_resident_kib();
    }
    t.build_seconds = cpu_seconds() - start;
    t.end_kib = peak_resident_kib();
  }
  tables::TableReader reader(tables::make_stream(layout, std::make_unique<Rows>(rows, with_nulls), batch_rows));
  double sum = 0;
  double build_again = 0;
  const double start = cpu_seconds();
  for (;;) {
    const double pull = cpu_seconds();
    if (!reader.next()) break;
    build_again += cpu_seconds() - pull;  // making and validating the batch, not reading it
    for (std::size_t c = 0; c < reader.columns(); ++c) {
      const tables::ColumnReader& column = reader.column(c);
      for (std::int64_t i = 0; i < reader.rows(); ++i) {
        if (column.is_null(i)) continue;
        switch (column.kind()) {
          case tables::ValueKind::Integer: sum += static_cast<double>(column.integer(i).as_signed()); break;
          case tables::ValueKind::Real: sum += column.real(i); break;
          case tables::ValueKind::Boolean: sum += column.boolean(i); break;
          default: sum += static_cast<double>(column.bytes(i).size());
        }
      }
    }
  }
  t.read_seconds = cpu_seconds() - start - build_again;
  if (sum == 0) std::puts("");  // keeps the reads
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
  const std::int64_t batch_rows = argc > 2 ? std::atoll(argv[2]) : 8192;
  const double cells = static_cast<double>(rows) * columns;
  std::printf("%lld rows x %zu columns, batches of %lld rows\n", static_cast<long long>(rows), columns,
              static_cast<long long>(batch_rows));
  std::printf("%-22s %14s %13s\n", "columns", "build ns/cell", "read ns/cell");
  struct Uniform {
    const char* name;
    tables::ColumnType (*type)(std::size_t);
  };
  const Uniform uniform[] = {
      {"int64", [](std::size_t) { return tables::ColumnType::Int64; }},
      {"float64", [](std::size_t) { return tables::ColumnType::Float64; }},
      {"bool", [](std::size_t) { return tables::ColumnType::Bool; }},
      {"dictionary (codes)", [](std::size_t) { return tables::ColumnType::Dictionary; }},
      {"utf8 (short texts)", [](std::size_t) { return tables::ColumnType::Utf8; }},
  };
  for (const Uniform& u : uniform) {
    const Timing t = measure(layout_of(u.type), rows, batch_rows, false);
    std::printf("%-22s %14.2f %13.2f\n", u.name, t.build_seconds * 1e9 / cells, t.read_seconds * 1e9 / cells);
  }
  const Timing t = measure(layout_of(mixed_type), rows, batch_rows, true);
  std::printf("%-22s %14.2f %13.2f\n", "mixed, 1 null in 50", t.build_seconds * 1e9 / cells, t.read_seconds * 1e9 / cells);
  std::printf("mixed table: built in %.2f s, read in %.2f s; peak resident %.1f MiB after the first batch, %.1f MiB at the end\n",
              t.build_seconds, t.read_seconds, static_cast<double>(t.first_batch_kib) / 1024, static_cast<double>(t.end_kib) / 1024);
}
