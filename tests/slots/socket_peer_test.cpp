// Finding the process that holds the other end of an accepted loopback
// connection: in tables of the kernel's format, and on the real kernel
// with a child process as the peer.
#include "slots/socket_peer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "runtime/fd.h"
#include "tests/loopback_client.h"

namespace {

const char heading[] =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

std::string entry(int sl, const char* local, const char* remote, const char* state, unsigned long inode) {
  char line[256];
  std::snprintf(line, sizeof line,
                "%4d: %s %s %s 00000000:00000000 00:00000000 00000000     0        0 %lu 1 0000000000000000 20 4 "
                "30 10 -1\n",
                sl, local, remote, state, inode);
  return line;
}

ino_t peerIn(const std::string& table, ino_t own) {
  std::istringstream in(table);
  return socket_peer::peer_inode(in, own);
}

TEST(SocketPeer, ThePeerIsTheEntryWithTheAddressesCrossedAndAHolder) {
  // The server listens on :CB20 (52000); 501 is its end of a connection
  // from port 9C40, whose own end is 777.
  const std::string table = std::string(heading) + entry(0, "0100007F:CB20", "00000000:0000", "0A", 100) +
                            entry(1, "0100007F:CB20", "0100007F:9C40", "01", 501) +
                            // A second connection from the same port on another loopback address.
                            entry(2, "0200007F:9C40", "0100007F:CB20", "01", 666) +
                            // A closed one from the same port: no process holds it any more.
                            entry(3, "0100007F:9C40", "0100007F:CB20", "06", 0) +
                            entry(4, "0100007F:9C40", "0100007F:CB20", "01", 777);
  EXPECT_EQ(peerIn(table, 501), 777u);
  EXPECT_EQ(peerIn(table, 777), 501u);
  EXPECT_EQ(peerIn(table, 666), 0u);  // its peer is not in the table
  EXPECT_EQ(peerIn(table, 12345), 0u);
  EXPECT_EQ(peerIn(table, 0), 0u);
  // A big-endian kernel prints the addresses the other way round: only
  // crossing matters.
  EXPECT_EQ(peerIn(std::string(heading) + entry(0, "7F000001:CB20", "7F000001:9C40", "01", 501) +
                       entry(1, "7F000001:9C40", "7F000001:CB20", "01", 778),
                   501),
            778u);
  // Lines cut short or with no inode are passed over.
  EXPECT_EQ(peerIn(std::string(heading) + entry(1, "0100007F:CB20", "0100007F:9C40", "01", 501) +
                       "   4: 0100007F:9C40 0100007F:CB20 01 00000000:00000000\n" +
                       "   5: 0100007F:9C40 0100007F:CB20 01 0:0 00:0 0 0 0 x12\n",
                   501),
            0u);
}

// A listener on the loopback and one connection to it from the given
// process side; the accepted end.
class Loopback {
 public:
  Loopback() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_in any = testkit::loopback(0);
    if (::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        ::listen(listener_.get(), 4) != 0)
      listener_.close();
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &length);
    port_ = ntohs(a.sin_port);
  }
  int port() const { return port_; }
  Fd accept() { return Fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)); }

 private:
  Fd listener_;
  int port_ = 0;
};

TEST(SocketPeer, TheKernelNamesTheChildThatConnectedAndNotTheProcessThatAccepted) {
  Loopback server;
  ASSERT_NE(server.port(), 0);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int s = testkit::connectTo(server.port());
    const char c = s >= 0 ? 'y' : 'n';
    if (::write(ready[1], &c, 1) != 1) ::_exit(1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char c = 0;
  const bool connected = ::read(ready[0], &c, 1) == 1 && c == 'y';
  ::close(ready[0]);
  Fd fromChild = server.accept();
  const int own = testkit::connectTo(server.port());
  Fd fromSelf = server.accept();

  EXPECT_TRUE(connected);
  EXPECT_EQ(socket_peer::holder(fromChild.get(), {::getpid(), child}), child);
  EXPECT_EQ(socket_peer::holder(fromChild.get(), {::getpid()}), -1);
  EXPECT_EQ(socket_peer::holder(fromSelf.get(), {child}), -1);
  EXPECT_EQ(socket_peer::holder(fromSelf.get(), {child, ::getpid()}), ::getpid());
  EXPECT_EQ(socket_peer::holder(fromChild.get(), {}), -1);
  EXPECT_EQ(socket_peer::holder(-1, {child}), -1);

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  // The child is gone: nobody holds its end any more.
  EXPECT_EQ(socket_peer::holder(fromChild.get(), {child}), -1);
  ::close(own);
}

}  // namespace
