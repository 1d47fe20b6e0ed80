#pragma once
// A hardware service on the simulated board, bound to a controller session
// with a TCP controller on the loopback. The loop clock is the test clock:
// the status timers fire when a test advances it.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "control/acceptor_net.h"
#include "control/ctrl_server.h"
#include "runtime/test_clock.h"
#include "tests/control/session_test_support.h"
#include "tests/sim_board_fixture.h"

namespace hwtest {

class ServiceTest : public SimBoardTest {
 protected:
  void TearDown() override {
    controller.close();
    server.Deactivate();
    SimBoardTest::TearDown();
  }
  // Binds the service and lets the controller connect; what arrived on
  // connecting is in `received`.
  void connect(CtrlSrv::Service& service) {
    const auto& bound = server.services();
    if (std::find(bound.begin(), bound.end(), &service) == bound.end()) server.Bind(&service);
    if (!server.link()) {
      ASSERT_TRUE(server.Activate(new Control::AcceptorNetCheckConnection(port)));
    }
    ASSERT_TRUE(controller.connect(port));
    ASSERT_TRUE(pump([&] {
      bool c = false;
      return server.CheckServerConnection(c) && c;
    }));
    received = drain();
  }
  void disconnect() {
    controller.close();
    ASSERT_TRUE(pump([&] {
      bool c = true;
      return !server.CheckServerConnection(c) || !c;
    }));
    settle();  // the services hear of it on a later pass
  }
  // Sends a command; everything up to its answer, the answer last.
  std::vector<std::string> request(const std::string& valueNotation) {
    controller.send(linktest::tpkt(linktest::encode(valueNotation)));
    std::vector<std::string> out;
    std::vector<unsigned char> payload;
    while (controller.frame(payload)) {
      out.push_back(linktest::decode(payload));
      if (out.back().find("pdu response") != std::string::npos) break;
    }
    return out;
  }
  // What arrives within a few more passes.
  std::vector<std::string> drain() {
    std::vector<std::string> out;
    std::vector<unsigned char> payload;
    settle();
    while (controller.frame(payload, std::chrono::milliseconds(20))) out.push_back(linktest::decode(payload));
    return out;
  }

  Mux::TestClock clock{1000};
  int port = linktest::freePort();
  CtrlSrv::Server server;
  linktest::Peer controller;
  std::vector<std::string> received;
};

// "{ pdu signal : cas : { channel { path T, timeslot S }, rx R, tx X } }"
inline std::string casSignal(int trunk, int timeslot, int rx, int tx) {
  return "{ pdu signal : cas : { channel { path " + std::to_string(trunk) + ", timeslot " + std::to_string(timeslot) +
         " }, rx " + std::to_string(rx) + ", tx " + std::to_string(tx) + " } }";
}

inline std::string success(int seq) { return "{ seq " + std::to_string(seq) + ", pdu response : success : NULL }"; }
inline std::string error(int seq, const std::string& cause) {
  return "{ seq " + std::to_string(seq) + ", pdu response : error : " + cause + " }";
}

}  // namespace hwtest
