#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(Fd, CopiesAreCloseOnExecDuplicatesAndEachClosesItsOwn) {
  Fd empty;
  errno = 0;
  EXPECT_EQ(empty.close(), -1);
  EXPECT_EQ(errno, EBADF);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  int raw = p[0];
  {
    Fd a(raw);
    Fd b = a;
    EXPECT_NE(b.get(), a.get());
    EXPECT_TRUE(cloexec(b.get()));
    int bfd = b.get();
    b.close();
    EXPECT_FALSE(isOpen(bfd));
    EXPECT_TRUE(isOpen(raw));
    Fd moved(std::move(a));
    EXPECT_EQ(moved.get(), raw);
    EXPECT_FALSE(a.valid());
  }
  EXPECT_FALSE(isOpen(raw));
}

TEST(PollEventAsText, NamesTheSetBitsInOrder) {
  EXPECT_EQ(PollEventAsText(0x19), "POLLIN|POLLERR|POLLHUP");
  EXPECT_EQ(PollEventAsText(0x7FF),
            "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG");
}

struct Sink {
  std::vector<int> fds;
  void OnEvent(int fd, short) { fds.push_back(fd); }
};

TEST(Event, KeepsItsOwnDuplicateAndReleaseClosesIt) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  Fd r(p[0]), w(p[1]);
  Sink sink;
  Event ev;
  ev.Bind(&sink, &Sink::OnEvent, "Sink::OnEvent");
  ev.Schedule(r, POLLIN);
  EXPECT_NE(ev.fd().get(), r.get());
  EXPECT_TRUE(cloexec(ev.fd().get()));
  r.close();  // the caller's copy goes; the event's stays
  ASSERT_EQ(::write(w.get(), "x", 1), 1);
  multiplexer.run_once(1000);
  EXPECT_EQ(sink.fds, std::vector<int>{ev.fd().get()});
  int own = ev.fd().get();
  ev.Schedule(ev.fd(), POLLIN | POLLOUT);  // same descriptor: only the mask changes
  EXPECT_EQ(ev.fd().get(), own);
  EXPECT_EQ(ev.events(), POLLIN | POLLOUT);
  ev.Release();
  EXPECT_FALSE(isOpen(own));
  EXPECT_FALSE(multiplexer.event_exists(&ev));
  EXPECT_TRUE(ev.bound());
}

}  // namespace
