// Record batches as an Arrow C stream, made only as the consumer pulls them, so that a table of any
// length streams in the memory of a batch or two.
#pragma once

#include "tables/builders.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace tables {

// Where the rows of a stream come from.
class BatchSource {
 public:
  virtual ~BatchSource() = default;
  // Appends up to `max_rows` rows to `batch` (started, empty); false once no rows are left.
  virtual bool fill(BatchBuilder& batch, std::int64_t max_rows) = 0;
};

// A stream of `layout`'s record batches of up to `batch_rows` (at least 1) rows each, owning `source`. The
// consumer's get_next may run on any thread, one call at a time. When the source throws, get_next
// returns ENOMEM for std::bad_alloc and EIO otherwise, get_last_error gives the exception's
// message, and every later get_next fails alike.
nanoarrow::UniqueArrayStream make_stream(const TableLayout& layout, std::unique_ptr<BatchSource> source,
                                         std::int64_t batch_rows);

// Finished batches, held once and shared by every stream made of them.
using Batches = std::vector<nanoarrow::UniqueArray>;

// A stream of `batches` as they are, without a copy: each array handed out holds `batches` until
// the consumer releases it, so the batches outlive both the stream and their holder if need be.
nanoarrow::UniqueArrayStream share_stream(const ArrowSchema& schema, std::shared_ptr<const Batches> batches);

}  // namespace tables
