#pragma once
// One link to an SNMP agent process. The gateway speaks no SNMP itself: it
// keeps a TCP connection to each configured agent and pushes `MON` messages
// to it (aligned PER, one TPKT frame each), which the agent turns into MIB
// cells. The link connects, and reconnects after a loss, by itself; while
// idle it pings every 5 s, and it drops a connection whose agent has said
// nothing for more than 30 s (noticed at the next send).
//
// Configured by one "snmpagent" block:
//   [snmpagent]
//   host = 127.0.0.1:17001      ; the agent's IPv4 address and port
//   name = kavrola              ; also read as the agent's type
//
// Log lines begin with "snmpagent." + name + " " + address:port.
#include <cstdint>
#include <memory>
#include <string>

#include "asn1/modules/MON.h"
#include "control/control_service.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"

namespace IniFile {
class SubSection;
}

namespace Control {
class ConnectorNet;
}

// Told by an agent link each time its connection comes up.
class ISnmpAgentNotify {
 public:
  virtual ~ISnmpAgentNotify() = default;
  virtual void OnSnmpAgentConnect(const std::string& name);
};

class SnmpAgentInstance : public Control::Notify {
 public:
  // The kind of agent, as a bit: the item batches an agent type takes are
  // chosen by these bits. A configuration may also give a number.
  enum MonitoringAddressType : int { veskgw = 1, kavrola = 2, veskgw_tm = 4 };

  static constexpr unsigned ping_ms = 5000;
  static constexpr std::int32_t silence_ms = 30000;

  // Link states.
  enum State { created = 0, activated = 1, connected = 2, lost = 3 };

  SnmpAgentInstance();
  ~SnmpAgentInstance() override;
  SnmpAgentInstance(const SnmpAgentInstance&) = delete;
  SnmpAgentInstance& operator=(const SnmpAgentInstance&) = delete;

  // Reads the block and starts connecting. False, with the link left
  // inactive, when a key is missing, duplicated or invalid (reported under
  // "snmpagent: "); "host" must be an address, a colon and a port of
  // 1..65535 in plain digits.
  bool Activate(IniFile::SubSection& block);

  // Sends a command as a message's pdu.
  void Command(const MON::Command& command);
  // Sends while connected (dropped silently otherwise), re-arms the ping
  // and drops the connection when the agent has been silent too long.
  void Send(const MON::Message& message);

  void Bind(ISnmpAgentNotify* notify) { notify_ = notify; }
  void UnBind() { notify_ = nullptr; }

  // Control::Notify
  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;

  MonitoringAddressType type() const { return type_; }
  const std::string& name() const { return name_; }
  const std::string& prefix() const { return prefix_; }
  const INet4::Addr& address() const { return address_; }
  int state() const { return state_; }
  std::uint32_t last_receive() const { return lastReceive_; }
  bool ping_armed() const { return ping_.isSet(); }
  // The link's connection, null until activated.
  Control::ConnectorNet* connector() const { return connector_.get(); }

 private:
  void SetPingTimer();
  void OnPingTimer(Timer*);
  void OnMessage(const MON::Message& message);
  void OnResponse(const MON::Response&) {}
  void OnSignal(const MON::Signal&) {}

  std::unique_ptr<Control::ConnectorNet> connector_;
  MonitoringAddressType type_ = veskgw;
  std::string name_;
  std::string prefix_ = "snmpagent";
  INet4::Addr address_;
  int state_ = created;
  std::uint32_t lastReceive_ = 0;
  Timer ping_;
  ISnmpAgentNotify* notify_ = nullptr;
};
