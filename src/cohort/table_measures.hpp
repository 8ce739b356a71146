// What score_table adds after the report's fields when asked: each client's response quality
// against the cohort (the clients whose scores the table holds), and its standing on the scales of
// a norm group. The statistics are psychometrics' own; this only feeds them and writes columns.
#pragma once

#include <Python.h>

#include "bridge/client.hpp"
#include "cohort/result_table.hpp"
#include "mind/item_scores.hpp"
#include "psychometrics/norms.hpp"
#include "tables/host_answers.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cohort {

class TableMeasures {
 public:
  // `norms`: a norm file's path, read here with read_norms' errors, or None. `workers`: the
  // threads that call append_norms.
  TableMeasures(const mind::Keys& keys, bool quality, PyObject* norms, std::size_t workers);

  bool quality() const noexcept { return quality_; }

  // The columns, after the report's fields, and the norm group's name and date as metadata.
  void add_columns(cohort_table::ResultLayout& layout);
  // A new batch's columns found, and its dictionaries, the same in every batch.
  void start(cohort_table::ResultBatch& batch) const;

  // Without the lock, on thread `worker`: a client's norm columns, nulls when `scored` is none
  // (its scoring failed).
  void append_norms(cohort_table::ResultBatch& batch, const mind::Answers* scored, std::size_t worker);

  // Under the lock, client by client in order: the answers of a client that scored, kept a byte
  // each for the quality pass, or none for one that failed. A client whose answers are not all
  // integers from -128 to 127, or not as many as the first such client's, has no quality and is
  // no part of the cohort's.
  void keep(const tables::RowAnswers& row);
  void keep(const bridge::Snapshot& snapshot);
  void keep_none();

  // Without the lock, once every client is kept: the quality columns of every batch, in order, the
  // cohort's sums and the distances on up to `threads` threads.
  void append_quality(const std::vector<std::unique_ptr<cohort_table::ResultBatch>>& batches, std::size_t threads);

 private:
  struct NormedScale {
    std::size_t scale;  // of scales_
    const psychometrics::ScaleNorm* norm;
  };

  // The answers taken for one client, or none when they cannot be kept.
  void keep_row(bool kept);

  bool quality_;
  std::optional<psychometrics::NormGroup> group_;
  std::vector<mind::Scale> scales_;
  std::size_t questions_ = 0;
  std::vector<NormedScale> normed_;
  std::vector<std::vector<std::uint8_t>> classes_;  // of each worker
  std::size_t quality_column_ = 0;
  std::size_t norm_column_ = 0;

  std::vector<std::int8_t> row_;  // the client's answers being kept
  std::optional<std::size_t> width_;
  std::vector<std::int8_t> answers_;  // width_ a client, of the clients with quality
  std::vector<bool> has_quality_;     // of every client, in order
};

}  // namespace cohort
