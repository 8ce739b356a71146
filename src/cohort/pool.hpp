// Helper threads that score batches of clients beside the thread that hands the batches in, so
// that thread can turn one batch into host objects while the next is being scored.
#pragma once

#include "mind/answers.hpp"
#include "mind/run.hpp"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace cohort {

// One client to score: its answers in, its outcome out, both owned by the caller.
struct Job {
  const mind::Answers* answers;
  mind::Outcome* outcome;
  std::size_t scorer = 0;  // who scored it: 0 the caller, 1 on a helper
};

// The clients of a batch, scored in any order, each by whichever thread takes it first.
class Batch {
 public:
  explicit Batch(std::vector<Job> jobs) noexcept : jobs_(std::move(jobs)) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

 private:
  friend class Pool;
  std::vector<Job> jobs_;
  // Guarded by the pool's mutex.
  std::size_t taken_ = 0;
  std::size_t done_ = 0;
  std::exception_ptr failure_;
};

class Pool {
 public:
  // `helpers` threads beside the caller's own; with none, finish() scores every client itself.
  Pool(const mind::KeptTables& tables, std::size_t helpers);
  // Each helper ends after the client at hand; a batch left unfinished is never scored.
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Queues a batch for the helpers. It must stay where it is until finish() has returned for it.
  void submit(Batch& batch);
  // Scores the batch's remaining clients beside the helpers and waits until every one is done;
  // rethrows what scoring a client of it threw. Call without the global lock held.
  void finish(Batch& batch);
  // Takes the outcomes that helpers scored, once they are turned into host objects, for those
  // helpers to free: memory freed by the thread that allocated it never waits for that thread's
  // allocator to be free.
  void recycle(Batch& batch);

 private:
  struct Range {
    std::size_t first = 0;
    std::size_t end = 0;
  };
  bool take(Batch*& batch, Range& range);
  static Range take_from(Batch& batch);
  void score(Batch& batch, Range range, std::size_t scorer, std::unique_lock<std::mutex>& lock);
  void serve(std::size_t helper);
  void stop() noexcept;

  const mind::KeptTables& tables_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch was queued, or the pool is stopping
  std::condition_variable done_;  // a client was scored
  std::deque<Batch*> queue_;      // oldest first; a batch leaves once every client of it is taken
  bool stopping_ = false;
  std::vector<std::vector<mind::Outcome>> spent_;  // by helper: outcomes for it to free
  std::vector<std::jthread> helpers_;
};

}  // namespace cohort
