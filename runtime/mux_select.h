#pragma once
// select() over descriptor sets that know their highest descriptor. The
// daemon waits in its poll loop; these serve small tools and tests.
#include <sys/select.h>

#include "runtime/mux_clock.h"

namespace Mux {

// A descriptor set of the system's size (FD_SETSIZE) and its highest
// descriptor (-1 when empty). Descriptors outside the set's range are
// refused: fd_set has no room for them.
struct Set {
  fd_set set;
  int max;

  Set() { zero(); }
  void zero() {
    FD_ZERO(&set);
    max = -1;
  }
  // false for a descriptor the set cannot hold.
  bool add(int fd);
  void remove(int fd);
  bool contains(int fd) const;
};

int max_fd(const Set& a, const Set& b);
int max_fd(const Set& a, const Set& b, const Set& c);

// select() with the highest descriptor + 1; an empty set (max below 0) is
// passed as absent, a missing time value waits without end. The sets keep
// the ready descriptors, the time value what is left of it.
int select(Set& read, Set& write, Set& except, timeval& tv);
int select(Set& read, Set& write, Set& except);
int select(Set& read, Set& write);
int select(Set& read);
int select_rd(Set& read, timeval& tv);
int select_wr(Set& write, timeval& tv);

}  // namespace Mux
