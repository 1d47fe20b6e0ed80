// Every daemon binds a fixed port of the loopback (the modem authentication
// server's), so every end-to-end case runs in a network namespace of its
// own where it can (as root; ctest runs one case a process): the daemons of
// cases that run at the same time then never meet on it, and each case
// sees what its own daemon says and nothing of another's.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "runtime/fd.h"
#include "tests/loopback_client.h"
#include "tests/net_namespace.h"

namespace {

class OwnNetwork : public ::testing::Environment {
 public:
  void SetUp() override {
    if (::geteuid() == 0) why = testkit::enterFreshNetNamespace();
  }
  static std::string why;
};
std::string OwnNetwork::why = "not root";

const ::testing::Environment* const ownNetwork = ::testing::AddGlobalTestEnvironment(new OwnNetwork);

TEST(OwnNetwork, TheAuthenticationServersPortIsTheCasesOwn) {
  if (!OwnNetwork::why.empty()) GTEST_SKIP() << testkit::refused("no network namespace of its own: " + OwnNetwork::why);
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in a = testkit::loopback(52000);
  EXPECT_EQ(::bind(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
}

}  // namespace
