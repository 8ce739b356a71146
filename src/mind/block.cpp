#include "mind/block.hpp"

#include <cstdlib>
#include <new>
#include <vector>

namespace mind {

namespace {

// Enough for every table of a call on a database of a few hundred questions; bigger calls give the
// rest back to malloc, where a fault per page is a small share of their time.
constexpr std::size_t kept_blocks = 32;

class BlockCache {
 public:
  BlockCache() { free_.reserve(kept_blocks); }
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;
  ~BlockCache() {
    for (char* block : free_) std::free(block);
  }

  char* take() {
    if (free_.empty()) return nullptr;
    char* block = free_.back();
    free_.pop_back();
    return block;
  }
  bool keep(char* block) noexcept {
    if (free_.size() == kept_blocks) return false;
    free_.push_back(block);  // never reallocates: reserved up front
    return true;
  }

 private:
  std::vector<char*> free_;
};

// One per thread, so recycling needs no lock; a thread's blocks are freed when it ends.
thread_local BlockCache cache;

}  // namespace

Block::Block(std::size_t size) : data_(size == block_size ? cache.take() : nullptr), size_(size) {
  if (data_ == nullptr) data_ = static_cast<char*>(std::malloc(size));
  if (data_ == nullptr) throw std::bad_alloc();
}

Block::~Block() {
  if (data_ == nullptr) return;
  if (size_ != block_size || !cache.keep(data_)) std::free(data_);
}

}  // namespace mind
