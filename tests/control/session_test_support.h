#pragma once
// A controller session on a loopback port with a plain TCP controller, for
// the session and heartbeat tests. Messages are written and read in value
// notation through the project's coder (the end-to-end tests check the
// octets independently).
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "control/acceptor_net.h"
#include "control/ctrl_server.h"
#include "tests/control/link_test_support.h"

namespace linktest {

inline std::vector<unsigned char> encode(const std::string& valueNotation) {
  LGCP::Message m;
  EXPECT_TRUE(m.setFromValueNotation(valueNotation)) << valueNotation;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
  return std::vector<unsigned char>(out.begin(), out.end());
}

// The value notation of a payload, on one line.
inline std::string decode(const std::vector<unsigned char>& payload) {
  LGCP::Message m;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  const char* first = reinterpret_cast<const char*>(payload.data());
  if (!ASN1::decode(first, first + payload.size(), &env, m)) return "(undecodable)";
  std::string text = m.asValueNotation(), flat;
  bool blank = false;
  for (char c : text) {
    if (c == '\n' || c == ' ') {
      blank = true;
      continue;
    }
    if (blank && !flat.empty()) flat += ' ';
    blank = false;
    flat += c;
  }
  return flat;
}

class Session : public ::testing::Test {
 protected:
  Session() : port(freePort()) {}
  ~Session() override { server.Deactivate(); }

  void start() {
    Capture err(std::cerr);
    ASSERT_TRUE(server.Activate(new Control::AcceptorNetCheckConnection(port)));
    Capture out(std::cout), log(std::clog);
    ASSERT_TRUE(controller.connect(port));
    ASSERT_TRUE(pump([&] { return connected(); }));
    startLog = log.str();
  }
  bool connected() const {
    bool c = false;
    return server.CheckServerConnection(c) && c;
  }
  void send(const std::string& valueNotation) { controller.send(tpkt(encode(valueNotation))); }
  // The next message the controller receives, on one line.
  std::string receive() {
    std::vector<unsigned char> payload;
    if (!controller.frame(payload)) return "(nothing)";
    return decode(payload);
  }
  // Nothing more arrives within a few passes.
  bool quiet() {
    settle();
    controller.poll();
    return controller.pending().empty();
  }

  int port;
  std::string startLog;  // the log stream while the controller connected
  CtrlSrv::Server server;
  Peer controller;
};

}  // namespace linktest
