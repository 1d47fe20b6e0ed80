#include "runtime/mux_select.h"

#include <sys/time.h>

#include <initializer_list>

namespace Mux {
namespace {

fd_set* present(Set* s) { return s && s->max >= 0 ? &s->set : nullptr; }

int wait(Set* read, Set* write, Set* except, timeval* tv) {
  int top = -1;
  for (const Set* s : {read, write, except})
    if (s && s->max > top) top = s->max;
  struct ::timeval t = {0, 0};
  if (tv) {
    t.tv_sec = tv->tv_sec;
    t.tv_usec = tv->tv_usec;
  }
  const int rc = ::select(top + 1, present(read), present(write), present(except), tv ? &t : nullptr);
  if (tv) {
    tv->tv_sec = static_cast<std::int32_t>(t.tv_sec);
    tv->tv_usec = static_cast<std::int32_t>(t.tv_usec);
  }
  return rc;
}

}  // namespace

bool Set::add(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return false;
  FD_SET(fd, &set);
  if (fd > max) max = fd;
  return true;
}

void Set::remove(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return;
  FD_CLR(fd, &set);
  while (max >= 0 && !FD_ISSET(max, &set)) --max;
}

bool Set::contains(int fd) const { return fd >= 0 && fd < FD_SETSIZE && FD_ISSET(fd, &set); }

int max_fd(const Set& a, const Set& b) { return a.max > b.max ? a.max : b.max; }

int max_fd(const Set& a, const Set& b, const Set& c) {
  const int ab = max_fd(a, b);
  return ab > c.max ? ab : c.max;
}

int select(Set& read, Set& write, Set& except, timeval& tv) { return wait(&read, &write, &except, &tv); }
int select(Set& read, Set& write, Set& except) { return wait(&read, &write, &except, nullptr); }
int select(Set& read, Set& write) { return wait(&read, &write, nullptr, nullptr); }
int select(Set& read) { return wait(&read, nullptr, nullptr, nullptr); }
int select_rd(Set& read, timeval& tv) { return wait(&read, nullptr, nullptr, &tv); }
int select_wr(Set& write, timeval& tv) { return wait(&write, nullptr, nullptr, &tv); }

}  // namespace Mux
