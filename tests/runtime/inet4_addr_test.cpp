#include "runtime/inet4_addr.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(INet4Addr, AssignReportsThePortAndKeepsWhatItCannotRead) {
  INet4::Addr a;
  int port = 0;
  EXPECT_TRUE(a.Assign("10.0.0.1:5060", &port));
  EXPECT_EQ(port, 5060);
  EXPECT_EQ(a.GetString(), "10.0.0.1:5060");
  EXPECT_TRUE(a.Assign(std::string("10.0.0.2"), &port));  // no colon: port kept
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "10.0.0.2:5060");
  EXPECT_TRUE(a.Assign("10.0.0:x", &port));  // inet_aton's short form
  EXPECT_EQ(port, 0);
  EXPECT_EQ(a.GetString(), "10.0.0.0:0");
  EXPECT_TRUE(a.Assign("1.2.3.4:70000", &port));  // low 16 bits are kept
  EXPECT_EQ(port, 70000);
  EXPECT_EQ(a.port(), 70000 & 0xFFFF);
  INet4::Addr b;
  EXPECT_FALSE(b.Assign("localhost:80", &port));
  EXPECT_EQ(b.GetString(), "0.0.0.0:80");  // the address is left alone
  EXPECT_FALSE(b.Assign("1.2.3.4.5", nullptr));
}

TEST(INet4Addr, ParsePortTakesOnlyAWholeDecimalPortOf1To65535) {
  unsigned short port = 7;
  EXPECT_TRUE(INet4::ParsePort("1", &port));
  EXPECT_EQ(port, 1);
  EXPECT_TRUE(INet4::ParsePort("65535", &port));
  EXPECT_EQ(port, 65535);
  EXPECT_TRUE(INet4::ParsePort("00080", nullptr));
  // 99999 and 65536 would wrap to 34463 and 0; the others read as 0 or as
  // the digits before the stray character.
  for (const char* bad : {"", "0", "00000", "65536", "99999", "100000", "abc", "80x", "-80", "+80", " 80", "80 ",
                          "0x50", "8 0"}) {
    port = 7;
    EXPECT_FALSE(INet4::ParsePort(bad, &port)) << '"' << bad << '"';
    EXPECT_EQ(port, 7) << bad;
  }
}

TEST(INet4Addr, EqualityVectorAndRawAddress) {
  INet4::Addr a, b;
  a.Assign("192.168.1.2:80", nullptr);
  b.Assign(static_cast<unsigned long>(inet_addr("192.168.1.2")));
  EXPECT_FALSE(a.IsEqual(b));  // ports differ
  b.Assign(":80", nullptr);
  EXPECT_TRUE(a.IsEqual(b));
  EXPECT_EQ(a.GetVector(), (std::vector<char>{static_cast<char>(192), static_cast<char>(168), 1, 2}));
  std::ostringstream s;
  s << a;
  EXPECT_EQ(s.str(), "192.168.1.2:80");
}

}  // namespace
