#include "monitoring/snmp_agent_instance.h"

#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "control/connector_net.h"
#include "runtime/ini_file.h"
#include "runtime/ini_reader.h"
#include "runtime/mux_clock.h"

namespace {

const IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> monitoringAddressTypes[] = {
    {"veskgw", SnmpAgentInstance::veskgw},
    {"veskgw.tm", SnmpAgentInstance::veskgw_tm},
    {"kavrola", SnmpAgentInstance::kavrola},
    {nullptr, SnmpAgentInstance::veskgw}};

const char kHeader[] = "snmpagent: ";

}  // namespace

void ISnmpAgentNotify::OnSnmpAgentConnect(const std::string&) {}

SnmpAgentInstance::SnmpAgentInstance() = default;

SnmpAgentInstance::~SnmpAgentInstance() {
  if (connector_) {
    connector_->UnBind();
    connector_->Deactivate();
  }
}

bool SnmpAgentInstance::Activate(IniFile::SubSection& block) {
  std::string host;
  IniFile::Reader reader(kHeader, std::cerr);
  reader.required.add(&host, "host");
  reader.required.add(&name_, "name");
  reader.required.add(&type_, "name", monitoringAddressTypes);
  if (!reader.parse(block)) return false;

  // An address that does not convert must not become 0.0.0.0: that would
  // quietly connect to this very host. Nor may a port that is missing, not
  // a number or out of range be cut down to some other port (or 0) and
  // dialled for ever.
  const std::size_t colon = host.find(':');
  int port = -1;
  if (colon == std::string::npos || !INet4::ParsePort(host.substr(colon + 1), nullptr) ||
      !address_.Assign(host, &port)) {
    std::cerr << kHeader << "required key \"host\" has invalid value=\"" << host << "\", line "
              << block["host"].first()->lineNo() << std::endl;
    return false;
  }

  state_ = activated;
  connector_.reset(new Control::ConnectorNet(address_.GetString()));
  prefix_ = "snmpagent." + name_ + " " + address_.GetString();
  connector_->service_name(prefix_);
  connector_->Bind(this);
  connector_->Activate();
  return true;
}

void SnmpAgentInstance::Command(const MON::Command& command) {
  MON::Message message;
  message.get_pdu().set_command(command);
  Send(message);
}

void SnmpAgentInstance::Send(const MON::Message& message) {
  if (!connector_ || connector_->state() != Control::Service::State::Connected) return;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  if (!ASN1::encode(message, &env, std::back_inserter(out)) || out.empty()) {
    std::clog << prefix_ << ": encode MON message fail!!!" << std::endl;
    return;
  }
  connector_->Send(out.data(), static_cast<int>(out.size()));
  SetPingTimer();
  const std::uint32_t now = Mux::milliseconds();
  if (static_cast<std::int32_t>(now - lastReceive_) > silence_ms) {
    std::clog << prefix_ << ": ping timeout !!!" << " now=" << now << " stamp=" << lastReceive_ << std::endl;
    connector_->Disconnect();
  }
}

void SnmpAgentInstance::SetPingTimer() { ping_.set(ping_ms, &SnmpAgentInstance::OnPingTimer, this); }

void SnmpAgentInstance::OnPingTimer(Timer*) {
  MON::Command ping;
  ping.select_ping();
  Command(ping);
}

void SnmpAgentInstance::OnConnect() {
  state_ = connected;
  std::clog << prefix_ << ": connected." << std::endl;
  lastReceive_ = Mux::milliseconds();
  if (notify_) notify_->OnSnmpAgentConnect(name_);
}

void SnmpAgentInstance::OnDisconnect() {
  std::clog << prefix_ << ": connection lost, reset snmpagent instance" << std::endl;
  ping_.reset();
  if (state_ == connected) state_ = lost;
}

void SnmpAgentInstance::OnMessage(const char* data, int length) {
  // Whatever arrives shows the agent is alive.
  lastReceive_ = Mux::milliseconds();
  MON::Message message;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (length < 0 || !ASN1::decode(data, data + length, &env, message)) {
    std::cerr << prefix_ << ": receive : decode error!" << std::endl;
    return;
  }
  OnMessage(message);
}

void SnmpAgentInstance::OnMessage(const MON::Message& message) {
  const MON::PDU& pdu = message.get_pdu();
  switch (pdu.getSelection()) {
    case MON::PDU::e_response:
      OnResponse(pdu.get_response());
      break;
    case MON::PDU::e_signal:
      OnSignal(pdu.get_signal());
      break;
    default:
      std::cerr << prefix_ << ": receive unknown message type" << std::endl;
      break;
  }
}
