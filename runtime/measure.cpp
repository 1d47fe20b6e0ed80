#include "runtime/measure.h"

#include <ostream>

#include "runtime/mux_clock.h"

void Measure::begin() { start_ = Mux::microseconds(); }

std::uint32_t Measure::end() {
  std::uint32_t elapsed = Mux::microseconds() - start_;
  sample(elapsed);
  return elapsed;
}

void Measure::sample(std::uint32_t elapsed) {
  if (first_) {
    min_ = max_ = last_ = elapsed;
    counter_ = 1;
    first_ = false;
    return;
  }
  ++counter_;
  if (elapsed < min_) min_ = elapsed;
  if (elapsed > max_) max_ = elapsed;
  last_ = elapsed;
}

void Measure::put(std::ostream& s) const {
  s << std::dec << "min=" << min_ << " max=" << max_ << " avg=" << last_ << " counter=" << counter_;
}

std::ostream& operator<<(std::ostream& s, const Measure& m) {
  m.put(s);
  return s;
}
