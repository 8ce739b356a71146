#include "mind/methods.hpp"

namespace mind {

int lenient_points(int method, const Answer& answer, std::size_t position) {
  if (method < 0) return 0;
  const int entry = Answers::lenient_entry(answer, position);
  return entry == Answer::NotFound ? 0 : method_points(method, entry);
}

}  // namespace mind
