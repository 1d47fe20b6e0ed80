// Finding the peer socket of an accepted loopback connection in tables of
// the kernel's format. (The real kernel's answer, with the modem slots'
// children as peers, is in modem_auth_test.cpp.)
#include "slots/socket_peer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

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

}  // namespace
