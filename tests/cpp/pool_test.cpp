// The pool of helper threads alone, under ThreadSanitizer (scripts/test-pool): every item is done
// once, what the workers wrote is seen once finish() returns, a failure ends its batch, posted tasks
// run on their helper, and a forked child neither uses the pool nor waits for it.
#include "pool/pool.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FAIL: %s\n", what);
  ++failures;
}

// Two batches in flight at a time, as the cohort keeps them; each item is written by one thread only.
void every_item_once(std::size_t helpers) {
  pool::Pool workers(helpers);
  std::vector<std::vector<int>> done(2, std::vector<int>(1000));
  std::vector<std::unique_ptr<pool::Batch>> batches;
  for (auto& items : done) {
    batches.push_back(std::make_unique<pool::Batch>(items.size(), [&items](std::size_t i, std::size_t) { items[i] += 1; }));
    workers.submit(*batches.back());
  }
  for (auto& batch : batches) workers.finish(*batch);
  for (const auto& items : done) {
    for (const int count : items) check(count == 1, "every item is done exactly once");
  }
}

void a_failure_ends_its_batch() {
  pool::Pool workers(3);
  pool::Batch batch(10000, [](std::size_t i, std::size_t) {
    if (i == 5) throw std::runtime_error("item 5");
  });
  workers.submit(batch);
  try {
    workers.finish(batch);
    check(false, "finish rethrows what an item threw");
  } catch (const std::runtime_error&) {
  }
}

void posted_tasks_run_on_their_helper() {
  pool::Pool workers(2);
  std::vector<std::thread::id> by_worker(3);
  pool::Batch batch(4000, [&](std::size_t, std::size_t worker) {
    if (worker > 0) by_worker[worker] = std::this_thread::get_id();  // the same value from its one thread
  });
  workers.submit(batch);
  workers.finish(batch);
  std::atomic<int> ran{0};
  for (std::size_t worker = 1; worker <= 2; ++worker) {
    workers.post(worker, [&, worker] {
      check(by_worker[worker] == std::thread::id() || by_worker[worker] == std::this_thread::get_id(), "a task runs on its helper");
      ran += 1;
    });
  }
  while (ran.load() < 2) std::this_thread::yield();
}

void too_many_helpers_are_refused() {
  try {
    pool::Pool workers(pool::Pool::max_helpers + 1);
    check(false, "more than max_helpers is refused");
  } catch (const std::length_error&) {
  }
}

// The child has none of the helpers, which were busy with a batch when it was forked.
void a_forked_child_lets_go_at_once() {
  auto workers = std::make_unique<pool::Pool>(2);
  pool::Batch batch(1u << 22, [](std::size_t, std::size_t) {});
  workers->submit(batch);
  const pid_t child = fork();
  if (child == 0) {
    alarm(20);  // a child that waits for the helpers dies, and fails the check, rather than hang
    const bool refused = !workers->started_here();
    workers.reset();
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  check(WIFEXITED(status) && WEXITSTATUS(status) == 0, "a forked child sees the pool was started elsewhere and drops it");
  check(workers->started_here(), "the parent's pool is its own");
  workers->finish(batch);
}

}  // namespace

int main() {
  for (const std::size_t helpers : {0, 1, 3}) every_item_once(helpers);
  a_failure_ends_its_batch();
  posted_tasks_run_on_their_helper();
  too_many_helpers_are_refused();
  a_forked_child_lets_go_at_once();
  if (failures == 0) std::puts("pool: all checks passed");
  return failures == 0 ? 0 : 1;
}
