#include "cohort/pool.hpp"

#include <algorithm>

namespace cohort {

// A helper that cannot be started leaves those started before it waiting: they are stopped before
// the failure goes on, or destroying them would wait for ever.
Pool::Pool(const mind::KeptTables& tables, std::size_t helpers) : tables_(tables), spent_(helpers) {
  helpers_.reserve(helpers);
  try {
    for (std::size_t i = 0; i < helpers; ++i) helpers_.emplace_back([this, i] { serve(i); });
  } catch (...) {
    stop();
    throw;
  }
}

Pool::~Pool() { stop(); }

void Pool::stop() noexcept {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_.notify_all();
  helpers_.clear();  // joins
}

void Pool::submit(Batch& batch) {
  if (batch.jobs_.empty()) return;
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(&batch);
  }
  work_.notify_all();
}

// Clients are taken a few at a time: one at a time, the threads would meet at the mutex for every
// client of a small database.
constexpr std::size_t clients_per_take = 8;

// The next clients of the oldest batch that has some left. Called with the mutex held.
bool Pool::take(Batch*& batch, Range& range) {
  while (!queue_.empty()) {
    Batch& oldest = *queue_.front();
    if (oldest.taken_ < oldest.jobs_.size()) {
      batch = &oldest;
      range = take_from(oldest);
      return true;
    }
    queue_.pop_front();
  }
  return false;
}

Pool::Range Pool::take_from(Batch& batch) {
  const std::size_t first = batch.taken_;
  batch.taken_ = std::min(batch.jobs_.size(), first + clients_per_take);
  return {first, batch.taken_};
}

// Scores clients without the mutex. The first failure of a batch is kept and its clients not yet
// taken are given up.
void Pool::score(Batch& batch, Range range, std::size_t scorer, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  std::exception_ptr failure;
  try {
    for (std::size_t i = range.first; i < range.end; ++i) {
      Job& job = batch.jobs_[i];
      *job.outcome = tables_.run(*job.answers);
      job.scorer = scorer;
    }
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  if (failure && !batch.failure_) {
    batch.failure_ = failure;
    batch.done_ += batch.jobs_.size() - batch.taken_;
    batch.taken_ = batch.jobs_.size();
  }
  batch.done_ += range.end - range.first;
  if (batch.done_ == batch.jobs_.size()) done_.notify_all();
}

void Pool::serve(std::size_t helper) {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    Batch* batch = nullptr;
    Range range;
    if (!spent_[helper].empty()) {
      std::vector<mind::Outcome> spent = std::exchange(spent_[helper], {});
      lock.unlock();
      spent.clear();
      lock.lock();
    } else if (take(batch, range)) {
      score(*batch, range, helper + 1, lock);
    } else {
      work_.wait(lock);
    }
  }
}

void Pool::finish(Batch& batch) {
  std::unique_lock lock(mutex_);
  while (batch.taken_ < batch.jobs_.size()) score(batch, take_from(batch), 0, lock);
  done_.wait(lock, [&] { return batch.done_ == batch.jobs_.size(); });
  std::erase(queue_, &batch);
  if (batch.failure_) std::rethrow_exception(batch.failure_);
}

void Pool::recycle(Batch& batch) {
  {
    std::lock_guard lock(mutex_);
    for (Job& job : batch.jobs_) {
      if (job.scorer > 0) spent_[job.scorer - 1].push_back(std::move(*job.outcome));
    }
  }
  work_.notify_all();
}

}  // namespace cohort
