#pragma once
// The far end of an SNMP agent link in the test's own thread: it listens on
// the loopback, takes the link the code under test opens, and reads what
// arrives as one line per item (the end-to-end tests check the octets with
// Erlang's coder instead):
//   "set UNIQ SECTION/NAME/INDEX=VALUE"   a cell of an snmp-set command
//   "trapsinks HOST..."                   a trap-sink command (":PORT" if any)
//   "ping"
// and keeps the number of cells of each snmp-set command in setSizes.
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "asn1/modules/MON.h"
#include "runtime/fd.h"
#include "runtime/ini_file.h"
#include "tests/control/link_test_support.h"
#include "tests/tcp_listener.h"

namespace montest {

// A configuration read from text.
inline void readConfig(IniFile::File& file, const std::string& text) {
  std::istringstream in(text);
  in >> file;
}

class AgentPeer {
 public:
  int port() const { return listener_.port; }
  std::string block(const std::string& name) const {
    return "[snmpagent]\nhost = " + listener_.address() + "\nname = " + name + "\n";
  }
  // Takes the link once the code under test has connected.
  bool accept() {
    Fd conn;
    const bool ok = linktest::pump([&] { return (conn = listener_.accept()).valid(); });
    if (ok) link.adopt(conn.release());
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
  std::vector<unsigned> setSizes;

 private:
  void describe(const testkit::Bytes& payload, std::vector<std::string>& out) {
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
      setSizes.push_back(c.get_snmp_set().get_commands().size());
      for (const MON::SnmpSetCommand& s : c.get_snmp_set().get_commands()) {
        const MON::IniName& n = s.get_id().get_name();
        out.push_back("set " + std::to_string(s.get_uniq().getValue()) + " " + n.get_section().str() + "/" +
                      n.get_name().str() + "/" + std::to_string(n.get_index().getValue()) + "=" + s.get_value().str());
      }
    }
  }

  testkit::Listener listener_{4};
};

}  // namespace montest
