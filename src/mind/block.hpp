// Raw storage for tables, in blocks that cost as few page faults as possible.
#pragma once

#include <cstddef>
#include <utility>

namespace mind {

// A table starts with standard blocks; a large table goes on in huge ones.
inline constexpr std::size_t block_size = 64 * 1024;
inline constexpr std::size_t huge_block_size = 2 * 1024 * 1024;

// Owns one uninitialised block, aligned for any cell. Where it comes from depends on its size:
// - a standard block is recycled through its thread's small cache: a call frees a few hundred KiB
//   at its end, enough for malloc to give the top of the heap back to the system, and the next call
//   would fault the same pages in again, a sixth of a small call's time;
// - a huge block (any size from huge_block_size up, rounded up to a multiple of it) is mapped with
//   the advice to back it with huge pages: a large table then costs one fault per 2 MiB instead of
//   one per 4 KiB, which took a quarter of a large call's time;
// - any other size comes from malloc.
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
