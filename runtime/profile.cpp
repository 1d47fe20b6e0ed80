#include "runtime/profile.h"

#include <ostream>

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

void Point::begin() { measure_.begin(); }

void Point::end() { measure_.end(); }

void Point::put(std::ostream& s) const { s << "[" << name_ << "]: " << measure_; }

void dump(std::ostream& s) {
  for (Point* p = mRoot; p; p = p->next()) {
    p->put(s);
    s << std::endl;
  }
}

}  // namespace Profile
