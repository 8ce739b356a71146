#include "psychometrics/battery_pass.hpp"

#include <algorithm>

namespace psychometrics {

namespace {

// More parts than this would each get too few rows of a batch to pay for their thread.
constexpr std::size_t max_parts = 64;

}  // namespace

BatteryPass::BatteryPass(const mind::Battery& battery, std::size_t threads)
    : battery_(battery),
      scales_(mind::battery_scales(battery.keys())),
      questions_(mind::questions_reached(scales_)),
      parts_(std::clamp<std::size_t>(threads, 1, max_parts)) {}

std::int64_t BatteryPass::scored() const noexcept {
  std::int64_t total = 0;
  for (const Part& part : parts_) total += part.scored;
  return total;
}

std::int64_t BatteryPass::failed() const noexcept {
  std::int64_t total = 0;
  for (const Part& part : parts_) total += part.failed;
  return total;
}

}  // namespace psychometrics
