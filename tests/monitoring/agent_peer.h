#pragma once
// The far end of an SNMP agent link in the test's own thread: it listens on
// the loopback, takes the link the code under test opens, and reads what
// arrives as one line per item (the end-to-end tests check the octets with
// Erlang's coder instead):
//   "set UNIQ SECTION/NAME/INDEX=VALUE"   a cell of an snmp-set command
//   "trapsinks HOST..."                   a trap-sink command (":PORT" if any)
//   "ping"
#include <netinet/in.h>
#include <sys/socket.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/modules/MON.h"
#include "runtime/fd.h"
#include "runtime/ini_file.h"
#include "tests/control/link_test_support.h"

namespace montest {

// A configuration read from text.
inline void readConfig(IniFile::File& file, const std::string& text) {
  std::istringstream in(text);
  in >> file;
}

class AgentPeer {
 public:
  AgentPeer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
    sockaddr_in a = testkit::loopback(0);
    socklen_t len = sizeof a;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), len) == 0 && ::listen(listener_.get(), 4) == 0 &&
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }

  int port() const { return port_; }
  std::string block(const std::string& name) const {
    return "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port_) + "\nname = " + name + "\n";
  }
  // Takes the link once the code under test has connected.
  bool accept() {
    int fd = -1;
    const bool ok = linktest::pump([&] { return (fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)) >= 0; });
    if (ok) link.adopt(fd);
    return ok;
  }
  // What has arrived within a few loop passes.
  std::vector<std::string> take() {
    std::vector<std::string> out;
    testkit::Bytes payload;
    linktest::settle();
    while (link.frame(payload, std::chrono::milliseconds(20))) describe(payload, out);
    return out;
  }
  void answerPing() {
    MON::Message m;
    m.get_pdu().select_response().select_ping().select_success();
    send(m);
  }
  void send(const MON::Message& m) {
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    ASN1::encode(m, &env, std::back_inserter(out));
    link.send(testkit::tpkt(testkit::Bytes(out.begin(), out.end())));
  }

  linktest::Peer link;

 private:
  static void describe(const testkit::Bytes& payload, std::vector<std::string>& out) {
    MON::Message m;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    const char* p = reinterpret_cast<const char*>(payload.data());
    if (!ASN1::decode(p, p + payload.size(), &env, m) || m.get_pdu().getSelection() != MON::PDU::e_command) {
      out.push_back("(not a command)");
      return;
    }
    const MON::Command& c = m.get_pdu().get_command();
    if (c.getSelection() == MON::Command::e_ping) {
      out.push_back("ping");
    } else if (c.getSelection() == MON::Command::e_snmp_trapsink_set) {
      std::string line = "trapsinks";
      for (const MON::SnmpTrapsink& s : c.get_snmp_trapsink_set().get_trapsinks()) {
        line += " " + s.get_host().str();
        if (s.hasOptionalField(MON::SnmpTrapsink::o_port)) line += ":" + std::to_string(s.get_port().getValue());
      }
      out.push_back(line);
    } else if (c.getSelection() == MON::Command::e_snmp_set) {
      for (const MON::SnmpSetCommand& s : c.get_snmp_set().get_commands()) {
        const MON::IniName& n = s.get_id().get_name();
        out.push_back("set " + std::to_string(s.get_uniq().getValue()) + " " + n.get_section().str() + "/" +
                      n.get_name().str() + "/" + std::to_string(n.get_index().getValue()) + "=" + s.get_value().str());
      }
    }
  }

  Fd listener_;
  int port_ = 0;
};

}  // namespace montest
