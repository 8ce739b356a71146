#include "pool/pool.hpp"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace pool {

namespace {

// Counted in every child as it is forked, so that a pool can tell it is in a process its helpers
// are not in without asking the system for the process's identity.
std::atomic<std::uint64_t> forks{0};

void count_fork() noexcept { forks.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t forks_so_far() {
  static const int registered = pthread_atfork(nullptr, nullptr, count_fork);
  if (registered != 0) throw std::system_error(registered, std::generic_category(), "pthread_atfork");
  return forks.load(std::memory_order_relaxed);
}

// Items are taken a few at a time: one at a time, the threads would meet at the mutex for every
// item of small work. Fewer are taken as a batch nears its end (each thread a share of what is
// left), so that no thread is left doing several items of long work while the others wait.
constexpr std::size_t items_per_take = 8;

struct Range {
  std::size_t first = 0;
  std::size_t end = 0;
};

}  // namespace

struct Pool::Shared {
  std::mutex mutex;
  std::condition_variable work;  // a batch was queued, a task posted, or the pool is stopping
  std::condition_variable done;  // a batch's last item was done
  std::deque<Batch*> queue;      // oldest first; a batch leaves once every item of it is taken
  std::vector<std::vector<std::function<void()>>> tasks;  // by helper
  bool stopping = false;
  std::vector<std::thread> threads;

  Range take_from(Batch& batch) const {
    const std::size_t first = batch.taken_;
    const std::size_t share = (batch.items_ - first) / (2 * (tasks.size() + 1));
    batch.taken_ = first + std::clamp(share, std::size_t{1}, items_per_take);
    return {first, batch.taken_};
  }

  // The next items of the oldest batch that has some left. Called with the mutex held.
  bool take(Batch*& batch, Range& range) {
    while (!queue.empty()) {
      Batch& oldest = *queue.front();
      if (oldest.taken_ < oldest.items_) {
        batch = &oldest;
        range = take_from(oldest);
        return true;
      }
      queue.pop_front();
    }
    return false;
  }

  // Does the items without the mutex. The first failure of a batch is kept and its items not yet
  // taken given up.
  void run(Batch& batch, Range range, std::size_t worker, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    std::exception_ptr failure;
    try {
      for (std::size_t i = range.first; i < range.end; ++i) batch.work_(i, worker);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !batch.failure_) {
      batch.failure_ = failure;
      batch.done_ += batch.items_ - batch.taken_;
      batch.taken_ = batch.items_;
    }
    batch.done_ += range.end - range.first;
    if (batch.done_ == batch.items_) done.notify_all();
  }

  void serve(std::size_t worker) {
    std::unique_lock lock(mutex);
    std::vector<std::function<void()>>& mine = tasks[worker - 1];
    while (!stopping) {
      Batch* batch = nullptr;
      Range range;
      if (!mine.empty()) {
        std::vector<std::function<void()>> now = std::exchange(mine, {});
        lock.unlock();
        for (auto& task : now) task();
        now.clear();
        lock.lock();
      } else if (take(batch, range)) {
        run(*batch, range, worker, lock);
      } else {
        work.wait(lock);
      }
    }
  }

  void stop() noexcept {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    work.notify_all();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
  }
};

// A helper that cannot be started leaves those started before it waiting: they are stopped before
// the failure goes on.
Pool::Pool(std::size_t helpers) : shared_(std::make_unique<Shared>()), forks_seen_(forks_so_far()) {
  if (helpers > max_helpers) throw std::length_error("a pool has at most " + std::to_string(max_helpers) + " helpers");
  shared_->tasks.resize(helpers);
  shared_->threads.reserve(helpers);
  try {
    for (std::size_t i = 1; i <= helpers; ++i) shared_->threads.emplace_back([shared = shared_.get(), i] { shared->serve(i); });
  } catch (...) {
    shared_->stop();
    throw;
  }
}

// In a forked child the helpers' threads do not exist: joining them would wait for ever, and the
// mutex and conditions may be held or waited on by threads that are gone, so they are left alone.
Pool::~Pool() {
  if (!started_here()) {
    static_cast<void>(shared_.release());
    return;
  }
  shared_->stop();
}

std::size_t Pool::helpers() const noexcept { return shared_->tasks.size(); }

bool Pool::started_here() const noexcept { return forks.load(std::memory_order_relaxed) == forks_seen_; }

void Pool::submit(Batch& batch) {
  if (batch.items_ == 0) return;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->queue.push_back(&batch);
  }
  shared_->work.notify_all();
}

void Pool::finish(Batch& batch) {
  std::unique_lock lock(shared_->mutex);
  while (batch.taken_ < batch.items_) shared_->run(batch, shared_->take_from(batch), 0, lock);
  shared_->done.wait(lock, [&] { return batch.done_ == batch.items_; });
  std::erase(shared_->queue, &batch);
  if (batch.failure_) std::rethrow_exception(batch.failure_);
}

void Pool::post(std::size_t worker, std::function<void()> task) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->tasks.at(worker - 1).push_back(std::move(task));
  }
  shared_->work.notify_all();
}

}  // namespace pool
