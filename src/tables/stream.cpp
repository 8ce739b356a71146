#include "tables/stream.hpp"

#include <new>
#include <stdexcept>
#include <string>

namespace tables {

namespace {

class Producer {
 public:
  Producer(const TableLayout& layout, std::unique_ptr<BatchSource> source, std::int64_t batch_rows)
      : batch_(layout), source_(std::move(source)), batch_rows_(batch_rows) {}

 private:
  friend class nanoarrow::ArrayStreamFactory<Producer>;

  int GetSchema(ArrowSchema* out) { return ArrowSchemaDeepCopy(&batch_.schema(), out); }

  int GetNext(ArrowArray* out) {
    if (status_ != NANOARROW_OK) return status_;
    if (!source_) {
      out->release = nullptr;
      return NANOARROW_OK;
    }
    try {
      batch_.start(batch_rows_);
      if (!source_->fill(batch_, batch_rows_)) {
        source_.reset();
        out->release = nullptr;
        return NANOARROW_OK;
      }
      ArrowArrayMove(batch_.finish().get(), out);
      return NANOARROW_OK;
    } catch (const std::bad_alloc&) {
      return fail(ENOMEM, "out of memory");
    } catch (const std::exception& e) {
      return fail(EIO, e.what());
    } catch (...) {
      return fail(EIO, "unknown error");
    }
  }

  const char* GetLastError() { return status_ == NANOARROW_OK ? nullptr : message_.c_str(); }

  int fail(int status, const char* message) {
    status_ = status;
    message_ = message;
    source_.reset();
    return status;
  }

  BatchBuilder batch_;
  std::unique_ptr<BatchSource> source_;  // null once the rows are out or it failed
  std::int64_t batch_rows_;
  int status_ = NANOARROW_OK;
  std::string message_;
};

}  // namespace

nanoarrow::UniqueArrayStream make_stream(const TableLayout& layout, std::unique_ptr<BatchSource> source,
                                         std::int64_t batch_rows) {
  if (batch_rows < 1) throw std::invalid_argument("a batch holds at least one row");
  nanoarrow::UniqueArrayStream stream;
  nanoarrow::ArrayStreamFactory<Producer>::InitArrayStream(new Producer(layout, std::move(source), batch_rows), stream.get());
  return stream;
}

}  // namespace tables
