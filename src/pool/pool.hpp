// Helper threads, kept for the life of a pool, that do the items of batches beside the thread that
// waits for each batch, so that thread can do other work between two batches. The pool knows
// nothing of what the items are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

namespace pool {

// Work cut into items that any thread of the pool may take, each by whichever thread takes it first.
class Batch {
 public:
  // `work(item, worker)` is called once for every item below `items`: worker 0 is the thread in
  // Pool::finish, 1 to Pool::helpers() a helper.
  using Work = std::function<void(std::size_t item, std::size_t worker)>;
  Batch(std::size_t items, Work work) : items_(items), work_(std::move(work)) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

 private:
  friend class Pool;
  std::size_t items_;
  Work work_;
  // Guarded by the pool's mutex.
  std::size_t taken_ = 0;
  std::size_t done_ = 0;
  std::exception_ptr failure_;
};

class Pool {
 public:
  // More gives nothing: the threads would wait at the one mutex, and each costs a stack.
  static constexpr std::size_t max_helpers = 255;

  // `helpers` threads beside the caller's own; with none, finish() does every item itself. More
  // than max_helpers throws std::length_error; a thread that cannot start, std::system_error.
  explicit Pool(std::size_t helpers);
  // Each helper ends after the item at hand, and is waited for: a batch left unfinished is never
  // finished. In a process forked from the one that made the pool, the helpers are not there to
  // end: nothing is waited for, and what they shared is left as it is (it may be in mid-change).
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  std::size_t helpers() const noexcept;
  // False in a process forked from the one that made the pool, where nothing may be asked of it
  // but its destruction.
  bool started_here() const noexcept;

  // Queues a batch for the helpers. It must stay where it is until finish() has returned for it.
  void submit(Batch& batch);
  // Does the batch's remaining items beside the helpers and waits until every one is done. The
  // first exception an item threw is rethrown, the items not yet taken then given up.
  void finish(Batch& batch);
  // Runs `task` on helper `worker` (1 to helpers()) before it takes more items: memory is freed
  // best by the thread that allocated it, whose allocator then needs no lock shared with others.
  void post(std::size_t worker, std::function<void()> task);

 private:
  struct Shared;
  std::unique_ptr<Shared> shared_;
  std::uint64_t forks_seen_;
};

}  // namespace pool
