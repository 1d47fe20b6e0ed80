#pragma once
// Named timing points, printed in the status dump. A point lives as a
// function-local static of the code it measures:
//
//   static Profile::Point point("Tpkt_protocol::message");
//   point.begin(); ...; point.end();
#include <iosfwd>

#include "runtime/measure.h"

namespace Profile {

class Point {
 public:
  explicit Point(const char* name);  // joins the global list at its head
  ~Point();
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;

  void begin();
  void end();
  // "[name]: min=.. max=.. avg=.. counter=..", avg being the last duration.
  void put(std::ostream& s) const;

  const char* name() const { return name_; }
  Point* next() const { return next_; }
  const Measure& measure() const { return measure_; }

 private:
  Point* next_;
  const char* name_;
  Measure measure_;  // never reset
};

// Head of the list of points, most recently constructed first.
extern Point* mRoot;

// put() and a newline for every point, from the head.
void dump(std::ostream& s);

}  // namespace Profile
