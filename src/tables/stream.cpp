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

// A consumer may move a child out of the array it was given, so every array of the tree handed out
// is a struct of its own over the shared buffers. The children a consumer did not move out go with
// their holder, also when sharing a later child failed.
struct SharedArray {
  SharedArray() = default;
  SharedArray(const SharedArray&) = delete;
  SharedArray& operator=(const SharedArray&) = delete;
  ~SharedArray() {
    for (ArrowArray& child : children) {
      if (child.release != nullptr) child.release(&child);
    }
    if (dictionary.release != nullptr) dictionary.release(&dictionary);
  }

  std::shared_ptr<const Batches> owner;
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> child_pointers;
  ArrowArray dictionary{};
};

void release_shared(ArrowArray* array) {
  delete static_cast<SharedArray*>(array->private_data);
  array->release = nullptr;
}

void share_into(const ArrowArray& source, const std::shared_ptr<const Batches>& owner, ArrowArray* out) {
  auto held = std::make_unique<SharedArray>();
  held->owner = owner;
  held->children.resize(static_cast<std::size_t>(source.n_children));
  for (std::size_t i = 0; i < held->children.size(); ++i) {
    share_into(*source.children[i], owner, &held->children[i]);
    held->child_pointers.push_back(&held->children[i]);
  }
  if (source.dictionary != nullptr) share_into(*source.dictionary, owner, &held->dictionary);
  *out = source;
  out->children = held->child_pointers.empty() ? nullptr : held->child_pointers.data();
  out->dictionary = source.dictionary != nullptr ? &held->dictionary : nullptr;
  out->private_data = held.release();
  out->release = release_shared;
}

}  // namespace

nanoarrow::UniqueArrayStream share_stream(const ArrowSchema& schema, std::shared_ptr<const Batches> batches) {
  nanoarrow::UniqueSchema copy;
  check(ArrowSchemaDeepCopy(&schema, copy.get()), "copying a schema");
  std::vector<nanoarrow::UniqueArray> shared(batches->size());
  for (std::size_t i = 0; i < shared.size(); ++i) share_into(*(*batches)[i].get(), batches, shared[i].get());
  nanoarrow::UniqueArrayStream stream;
  nanoarrow::VectorArrayStream(copy.get(), std::move(shared)).ToArrayStream(stream.get());
  return stream;
}

nanoarrow::UniqueArrayStream make_stream(const TableLayout& layout, std::unique_ptr<BatchSource> source,
                                         std::int64_t batch_rows) {
  if (batch_rows < 1) throw std::invalid_argument("a batch holds at least one row");
  nanoarrow::UniqueArrayStream stream;
  nanoarrow::ArrayStreamFactory<Producer>::InitArrayStream(new Producer(layout, std::move(source), batch_rows), stream.get());
  return stream;
}

}  // namespace tables
