// Raw storage for a table's rows and texts, in blocks that each thread recycles.
#pragma once

#include <cstddef>
#include <utility>

namespace mind {

// Every table takes its storage in blocks of this size (a longer text gets one of its own size).
inline constexpr std::size_t block_size = 64 * 1024;

// Owns one uninitialised block, aligned for any cell. A standard block that is freed goes back to
// its thread's small cache instead of malloc: a call frees a few hundred KiB at its end, enough for
// malloc to give the top of the heap back to the system, and the next call would fault the same
// pages in again, which cost a small call a sixth of its time.
class Block {
 public:
  explicit Block(std::size_t size = block_size);
  Block(Block&& other) noexcept : data_(std::exchange(other.data_, nullptr)), size_(other.size_) {}
  Block& operator=(Block&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~Block();

  char* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }

 private:
  char* data_;
  std::size_t size_;
};

}  // namespace mind
