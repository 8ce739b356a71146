#include "mind/block.hpp"

#include <cstdlib>
#include <new>
#include <vector>

#if defined(__unix__)
#include <sys/mman.h>
#endif

namespace mind {

namespace {

// Enough for every table of a call on a database of a few hundred questions.
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

bool is_huge(std::size_t size) noexcept { return size >= huge_block_size; }

std::size_t rounded(std::size_t size) noexcept {
  return is_huge(size) ? (size + huge_block_size - 1) / huge_block_size * huge_block_size : size;
}

#if defined(__unix__)
char* map_huge(std::size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#if defined(MADV_HUGEPAGE)
  madvise(p, size, MADV_HUGEPAGE);  // only advice: where refused, small pages serve
#endif
  return static_cast<char*>(p);
}

void unmap_huge(char* data, std::size_t size) noexcept { munmap(data, size); }
#else
char* map_huge(std::size_t) { return nullptr; }

void unmap_huge(char* data, std::size_t) noexcept { std::free(data); }
#endif

}  // namespace

Block::Block(std::size_t size) : data_(nullptr), size_(rounded(size)) {
  if (size_ == block_size) data_ = cache.take();
  if (is_huge(size_)) data_ = map_huge(size_);
  if (data_ == nullptr) data_ = static_cast<char*>(std::malloc(size_));
  if (data_ == nullptr) throw std::bad_alloc();
}

Block::~Block() {
  if (data_ == nullptr) return;
  if (is_huge(size_)) {
    unmap_huge(data_, size_);
  } else if (size_ != block_size || !cache.keep(data_)) {
    std::free(data_);
  }
}

}  // namespace mind
