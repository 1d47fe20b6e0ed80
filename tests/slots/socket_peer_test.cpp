// Finding the peer socket of an accepted loopback connection in tables of
// the kernel's format, and the real kernel's answers, both ways, for
// either family. (The modem slots' programs as peers are in
// modem_auth_test.cpp.)
#include "slots/socket_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "runtime/fd.h"

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
ino_t peerIn(const std::string& tcp, const std::string& tcp6, ino_t own) {
  std::istringstream in(tcp), in6(tcp6);
  return socket_peer::peer_inode(in, in6, own);
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

TEST(SocketPeer, ADualStackPeerIsFoundInTheIpv6TableByItsMappedAddress) {
  struct Case {
    const char* own;     // the server's end, in the IPv4 table
    const char* mapped;  // the peer's addresses in the IPv6 table
    ino_t found;
  };
  const Case cases[] = {
      {"0100007F:CB20 0100007F:9C40", "0000000000000000FFFF00000100007F:9C40 0000000000000000FFFF00000100007F:CB20",
       779},
      // A big-endian kernel prints each word the other way round.
      {"7F000001:CB20 7F000001:9C40", "00000000000000000000FFFF7F000001:9C40 00000000000000000000FFFF7F000001:CB20",
       779},
      // ::1 is no IPv4 address, whatever its last word.
      {"0100007F:CB20 0100007F:9C40", "00000000000000000000000001000000:9C40 00000000000000000000000001000000:CB20", 0},
      {"0100007F:CB20 0100007F:9C40", "0000000000000000FFFF00000200007F:9C40 0000000000000000FFFF00000100007F:CB20", 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.mapped);
    const std::string own(k.own), mapped(k.mapped);
    const std::string tcp =
        std::string(heading) + entry(0, own.substr(0, 13).c_str(), own.substr(14).c_str(), "01", 501);
    const std::string tcp6 =
        std::string(heading) + entry(0, mapped.substr(0, 37).c_str(), mapped.substr(38).c_str(), "01", 779);
    EXPECT_EQ(peerIn(tcp, tcp6, 501), k.found);
    EXPECT_EQ(peerIn(tcp, 501), 0u) << "not in the IPv4 table";
  }
}

ino_t inodeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// A client of either family connects to an IPv4 loopback server: the
// kernel's diagnostics (where it answers) and its tables both name the
// client's socket, and the program whose grandchild alone holds it is its
// holder.
TEST(SocketPeer, TheKernelFindsThePeerOfEitherFamilyAndTheProgramWhoseDescendantHoldsIt) {
  Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ASSERT_EQ(::bind(server.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(server.get(), 4), 0);
  ASSERT_EQ(::getsockname(server.get(), reinterpret_cast<sockaddr*>(&a), &length), 0);
  sockaddr_in6 mapped;
  std::memset(&mapped, 0, sizeof mapped);
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = a.sin_port;
  ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr), 1);
  for (const int family : {AF_INET, AF_INET6}) {
    SCOPED_TRACE(family == AF_INET ? "IPv4" : "IPv6, v4-mapped");
    const auto connected = [&](Fd& client) {
      client = Fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
      ASSERT_TRUE(client.valid());
      if (family == AF_INET)
        ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
      else
        ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&mapped), sizeof mapped), 0);
    };
    Fd client;
    ASSERT_NO_FATAL_FAILURE(connected(client));
    Fd accepted(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(accepted.valid());
    const ino_t peer = inodeOf(client.get());
    ino_t diag = 0;
    const bool diagnostics = socket_peer::diag_peer_inode(accepted.get(), diag);
    if (diagnostics)
      EXPECT_EQ(diag, peer);
    else
      std::cout << "no socket diagnostics here: the tables answer\n";
    EXPECT_EQ(socket_peer::table_peer_inode(accepted.get()), peer);
    EXPECT_EQ(socket_peer::peer_inode(accepted.get()), peer);

    // A stranger that writes and closes at once: the kernel still finds
    // its end, orphaned, with inode 0. That answer is trusted, so the
    // tables are not read for it; they say the same, at their cost.
    Fd quick;
    ASSERT_NO_FATAL_FAILURE(connected(quick));
    Fd gone(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
    ASSERT_TRUE(gone.valid());
    EXPECT_EQ(socket_peer::holder(gone.get(), {::getpid()}), ::getpid());
    ASSERT_EQ(::write(quick.get(), "x", 1), 1);
    quick.close();
    if (diagnostics) {
      ino_t orphan = 1;
      EXPECT_TRUE(socket_peer::diag_peer_inode(gone.get(), orphan)) << "the tables would be read";
      EXPECT_EQ(orphan, 0u);
    }
    EXPECT_EQ(socket_peer::table_peer_inode(gone.get()), 0u);
    EXPECT_EQ(socket_peer::holder(gone.get(), {::getpid()}), -1);

    // A program that started a child that started the holder, and closed
    // its own copy; and a stranger that holds nothing.
    int hold[2], ready[2];
    ASSERT_EQ(::pipe(hold), 0);
    ASSERT_EQ(::pipe(ready), 0);
    pid_t forked[2] = {-1, -1};
    for (int i = 0; i < 2; ++i) {
      forked[i] = ::fork();
      if (forked[i] != 0) continue;
      const pid_t holder = i == 0 ? 1 : ::fork();
      if (holder != 0) {
        ::close(client.get());
        if (::write(ready[1], holder > 0 ? "x" : "!", 1) != 1) ::_exit(1);
      }
      ::close(hold[1]);
      char c;
      while (::read(hold[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    const int forkError = errno;
    // On every return the children are let go and reaped.
    struct Release {
      int hold;
      const pid_t* forked;
      ~Release() {
        ::close(hold);
        for (int i = 0; i < 2; ++i)
          if (forked[i] > 0) ::waitpid(forked[i], nullptr, 0);
      }
    } release{hold[1], forked};
    const pid_t stranger = forked[0], program = forked[1];
    ::close(hold[0]);
    ::close(ready[1]);
    client.close();
    if (stranger <= 0 || program <= 0) ::close(ready[0]);
    ASSERT_TRUE(stranger > 0 && program > 0) << "could not fork: " << std::strerror(forkError);
    char copies[2];
    ASSERT_EQ(::read(ready[0], copies, 1) + ::read(ready[0], copies + 1, 1), 2) << "the copies are closed";
    ::close(ready[0]);
    ASSERT_EQ(std::string(copies, 2), "xx") << "the program could not fork the holder";
    EXPECT_EQ(socket_peer::holder(accepted.get(), {stranger, program}), program);
    EXPECT_EQ(socket_peer::holder(accepted.get(), {stranger}), -1);
  }
}

}  // namespace
