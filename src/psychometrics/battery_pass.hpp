// One pass over a cohort's answers on a battery: every client scored as mind scores it, those whose
// scoring fails left out and counted, and the answers of every other client sorted into classes,
// from which each scale's item scores are read. The batches come from the caller, who may take
// them from anywhere; each batch is split over threads.
#pragma once

#include "mind/item_scores.hpp"
#include "mind/run.hpp"
#include "psychometrics/parallel.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace psychometrics {

class BatteryPass {
 public:
  // `threads` bounds the parts a batch is split into; the parts' own state is kept across batches.
  BatteryPass(const mind::Battery& battery, std::size_t threads);

  const std::vector<mind::Scale>& scales() const noexcept { return scales_; }
  std::size_t parts() const noexcept { return parts_.size(); }
  // The rows a batch should have to keep every part busy.
  std::size_t batch_rows() const noexcept { return parts_.size() * rows_per_thread; }

  // visit(part, row, classes) for each client of `batch` whose scoring succeeds, `row` counted
  // within the batch; a part's clients are visited in order on one thread.
  template <class Visit>
  void run(std::span<const mind::Answers> batch, const Visit& visit) {
    const std::size_t parts = part_count(batch.size(), parts_.size());
    run_parts(parts, [&](std::size_t part) {
      Part& state = parts_[part];
      const RowRange range = part_range(batch.size(), parts, part);
      for (std::size_t row = range.first; row < range.end; ++row) {
        if (battery_.score(batch[row], state.scores)) {
          ++state.failed;
          continue;
        }
        ++state.scored;
        mind::classify_answers(batch[row], state.classes, questions_);
        visit(part, row, state.classes);
      }
    });
  }

  std::int64_t scored() const noexcept;
  std::int64_t failed() const noexcept;

 private:
  struct Part {
    mind::Scores scores;
    std::vector<std::uint8_t> classes;
    std::int64_t scored = 0;
    std::int64_t failed = 0;
  };

  const mind::Battery& battery_;
  std::vector<mind::Scale> scales_;
  std::size_t questions_;
  std::vector<Part> parts_;
};

}  // namespace psychometrics
