#pragma once
// Duration statistics in microseconds of the loop clock (32-bit, wrapping),
// kept by the loop for its deferred calls, dispatches and timers, and by
// every Event for the status dump.
#include <cstdint>
#include <iosfwd>

class Measure {
 public:
  void begin();
  // Ends a sample started by begin() and returns its duration.
  std::uint32_t end();
  // Adds one sample of the given duration.
  void sample(std::uint32_t elapsed);
  // "min=.. max=.. avg=.. counter=..": avg is the last sample, not a mean
  // (the dump header calls it "cur").
  void put(std::ostream& s) const;

  std::uint32_t min() const { return min_; }
  std::uint32_t max() const { return max_; }
  std::uint32_t last() const { return last_; }
  std::uint32_t counter() const { return counter_; }

 private:
  std::uint32_t min_ = 0;
  std::uint32_t max_ = 0;
  std::uint32_t last_ = 0;
  bool first_ = true;
  std::uint32_t start_ = 0;
  std::uint32_t counter_ = 0;
};

std::ostream& operator<<(std::ostream& s, const Measure& m);
