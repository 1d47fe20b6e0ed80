#include "runtime/profile.h"

#include <ostream>

#include "runtime/mux_clock.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(const char* name) : next_(mRoot), name_(name) { mRoot = this; }

Point::~Point() {
  for (Point** p = &mRoot; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}

void Point::begin() { start_ = Mux::microseconds(); }

void Point::end() {
  const std::uint32_t d = Mux::microseconds() - start_;
  if (first_) {
    min_ = max_ = last_ = d;
    counter_ = 1;
    first_ = false;
    return;
  }
  ++counter_;
  if (d < min_) min_ = d;
  if (d > max_) max_ = d;
  last_ = d;
}

void Point::put(std::ostream& s) const {
  s << "[" << name_ << "]: " << std::dec << "min=" << min_ << std::dec << " max=" << max_ << std::dec
    << " avg=" << last_ << std::dec << " counter=" << counter_;
}

void dump(std::ostream& s) {
  for (Point* p = mRoot; p; p = p->next()) {
    p->put(s);
    s << std::endl;
  }
}

}  // namespace Profile
