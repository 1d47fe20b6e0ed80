#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/multiplexer.h"

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(Fd, CloseOnEmptyGivesEbadf) {
  Fd fd;
  errno = 0;
  EXPECT_EQ(fd.close(), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(fd.dup(), -1);
  EXPECT_FALSE(fd.NonBlock());
}

TEST(Fd, CopiesAreCloseOnExecDuplicatesAndEachClosesItsOwn) {
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

TEST(Fd, BlockModeHelpers) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  Fd r(p[0]), w(p[1]);
  EXPECT_TRUE(r.NonBlock());
  EXPECT_TRUE(::fcntl(r.get(), F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(BlockMode(r.get()));
  EXPECT_FALSE(::fcntl(r.get(), F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(NonBlockMode(-1));
  EXPECT_FALSE(SetCloexec(w.get(), true));  // false: the write worked
  EXPECT_TRUE(cloexec(w.get()));
  EXPECT_FALSE(SetCloexec(w.get(), false));
  EXPECT_FALSE(cloexec(w.get()));
}

TEST(PollEventAsText, NamesTheSetBitsInOrder) {
  EXPECT_EQ(PollEventAsText(0x19), "POLLIN|POLLERR|POLLHUP");
  EXPECT_EQ(PollEventAsText(0), "");
  EXPECT_EQ(PollEventAsText(0x7FF),
            "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG");
}

struct Sink {
  std::vector<int> fds;
  void OnEvent(int fd, short) { fds.push_back(fd); }
};

TEST(Event, KeepsItsOwnDuplicateAndReleaseKeepsTheBinding) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  Fd r(p[0]), w(p[1]);
  Sink sink;
  Event ev;
  EXPECT_STREQ(ev.event_name(), "Unknown");
  ev.Bind(&sink, &Sink::OnEvent, "Sink::OnEvent");
  ev.Schedule(r, POLLIN);
  EXPECT_NE(ev.fd().get(), r.get());
  EXPECT_TRUE(cloexec(ev.fd().get()));
  EXPECT_TRUE(ev.attached());
  r.close();  // the caller's copy goes; the event's stays
  ASSERT_EQ(::write(w.get(), "x", 1), 1);
  multiplexer.run_once(1000);
  ASSERT_EQ(sink.fds.size(), 1u);
  EXPECT_EQ(sink.fds[0], ev.fd().get());
  int own = ev.fd().get();
  ev.Schedule(ev.fd(), POLLIN | POLLOUT);  // same descriptor: only the mask changes
  EXPECT_EQ(ev.fd().get(), own);
  EXPECT_EQ(ev.events(), POLLIN | POLLOUT);
  ev.Release();
  EXPECT_FALSE(isOpen(own));
  EXPECT_FALSE(multiplexer.event_exists(&ev));
  EXPECT_TRUE(ev.bound());
  EXPECT_STREQ(ev.event_name(), "Sink::OnEvent");
  ev.UnBind();
  EXPECT_FALSE(ev.bound());
}

}  // namespace
