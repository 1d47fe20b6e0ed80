#include "monitoring/snmp_agent_ctrl.h"

#include <cstddef>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "control/tpkt_protocol.h"
#include "runtime/ini_file.h"

namespace {

// The agent types that carry an item.
constexpr std::int32_t kKavrola = SnmpAgentInstance::kavrola;
constexpr std::int32_t kVeskgwTm = SnmpAgentInstance::veskgw_tm;
constexpr std::int32_t kBoth = kKavrola | kVeskgwTm;

// Octets of a value in the links' coding (aligned PER); 0 when it does not
// encode.
std::size_t encodedSize(const ASN1::AbstractData& value) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  return ASN1::encode(value, &env, std::back_inserter(out)) ? out.size() : 0;
}

// The room for the cells of a command of `cells` cells in one message of
// one frame. A cell starts and ends on an octet boundary, so a command's
// cells take the sum of their own encodings; the rest of the message is
// what an empty list takes, plus one octet from a count of 128 on (as
// max_cells is), which needs two where a smaller one needs one.
std::size_t roomForCells(std::size_t cells) {
  static const std::size_t room = [] {
    MON::Message empty;
    empty.get_pdu().select_command().select_snmp_set();
    return Tpkt_protocol::max_payload - encodedSize(empty);
  }();
  return cells < 128 ? room : room - 1;
}

std::string cellName(const MON::SnmpSetCommand& cell) {
  const MON::SnmpSetCommandId& id = cell.get_id();
  if (id.getSelection() == MON::SnmpSetCommandId::e_oid) return id.get_oid().str();
  const MON::IniName& name = id.get_name();
  return name.get_section().str() + "/" + name.get_name().str() + "/" + std::to_string(name.get_index().getValue());
}

}  // namespace

const std::vector<SnmpAgentCtrl::MonitoringItem>& SnmpAgentCtrl::items() {
  static const std::vector<MonitoringItem> table = {
      {driverBuild, kBoth, "gatewayCommon", "driverBuild"},
      {softwareBuild, kBoth, "gatewayCommon", "softwareBuild"},
      {powerStatus, kBoth, "gatewayCommon", "powerStatus"},
      {controllerStatus, kBoth, "gatewayCommon", "controllerStatus"},
      {gatewayDip, kBoth, "gatewayCommon", "gatewayDip"},
      {gatewayConfigVersion, kBoth, "gatewayCommon", "gatewayConfigVersion"},
      {extBoardStatus, kKavrola, "extBoardTable", "extBoardStatus"},
      {extBoardSoftVer, kKavrola, "extBoardTable", "extBoardSoftVer"},
      {extBoardType, kKavrola, "extBoardTable", "extBoardType"},
      {emPhonePanelSoftVer, kKavrola, "emPhoneTable", "emPhonePanelSoftVer"},
      {emPhoneCtrlSoftVer, kKavrola, "emPhoneTable", "emPhoneCtrlSoftVer"},
      {emPhoneFpgaSoftVer, kKavrola, "emPhoneTable", "emPhoneFpgaSoftVer"},
      {emPhoneStatus, kKavrola, "emPhoneTable", "emPhoneStatus"},
      {emPhonePowerStatus, kKavrola, "emPhoneTable", "emPhonePowerStatus"},
      {emPhoneMode, kKavrola, "emPhoneTable", "emPhoneMode"},
      {emPhoneHookStatus, kKavrola, "emPhoneTable", "emPhoneHookStatus"},
      {emPhoneBaseStatus, kKavrola, "emPhoneTable", "emPhoneBaseStatus"},
      {routerTermCnt, kBoth, "gatewayTermCounters", "routerTermCnt"},
      {controllerTermCnt, kBoth, "gatewayTermCounters", "controllerTermCnt"},
      {serverTermCnt, kBoth, "gatewayTermCounters", "serverTermCnt"},
      {extBoardTermCnt, kKavrola, "extBoardTermCntTable", "extBoardTermCnt"},
      {e1Connected, kKavrola, "e1Table", "e1Connected"},
      {e1StatusDsc, kKavrola, "e1Table", "e1StatusDsc"},
      {e1SignalLoss, kKavrola, "e1Table", "e1SignalLoss"},
      {e1FrameAlignLoss, kKavrola, "e1Table", "e1FrameAlignLoss"},
      {e1NegSlipCount, kKavrola, "e1Table", "e1NegSlipCount"},
      {e1PosSlipCount, kKavrola, "e1Table", "e1PosSlipCount"},
      {sgBuildVersion, kVeskgwTm, "statusGeneral", "sgBuildVersion"},
      {sgFPGAVersion, kVeskgwTm, "statusGeneral", "sgFPGAVersion"},
      {sgBootVersion, kVeskgwTm, "statusGeneral", "sgBootVersion"},
      {sgBoardVersion, kVeskgwTm, "statusGeneral", "sgBoardVersion"},
      {ifDescr, kBoth, "ifTable", "ifDescr"},
      {ifAdminStatus, kBoth, "ifTable", "ifAdminStatus"},
      {ifOperStatus, kBoth, "ifTable", "ifOperStatus"},
      {temperature, kKavrola, "gatewayCommon", "temperature"},
  };
  return table;
}

SnmpAgentCtrl::SnmpAgentCtrl() {
  dpc_.Bind(this, &SnmpAgentCtrl::OnDpcSend);
  // The plain "veskgw" type (1) carries no item: it has no batch.
  for (int type : {SnmpAgentInstance::kavrola, SnmpAgentInstance::veskgw_tm}) batches_[type].select_snmp_set();
}

SnmpAgentCtrl::~SnmpAgentCtrl() = default;

void SnmpAgentCtrl::CreateInstances(IniFile::Section& section) {
  for (IniFile::SubSection& block : section) {
    instances_.emplace_back(new SnmpAgentInstance);
    instances_.back()->Bind(notify_);
    instances_.back()->Activate(block);
  }
}

void SnmpAgentCtrl::Bind(ISnmpAgentNotify* notify) {
  notify_ = notify;
  for (auto& instance : instances_) instance->Bind(notify);
}

void SnmpAgentCtrl::UnBind() {
  notify_ = nullptr;
  for (auto& instance : instances_) instance->UnBind();
}

void SnmpAgentCtrl::Send(MonitoringItemType item, const std::string& value) { Send(item, 0, value); }

void SnmpAgentCtrl::Send(MonitoringItemType item, int index, const std::string& value) {
  const MonitoringItem* found = nullptr;
  for (const MonitoringItem& i : items())
    if (i.id == item) {
      found = &i;
      break;
    }
  if (!found) return;
  for (auto& batch : batches_) {
    if (!(batch.first & found->mask)) continue;
    MON::SnmpSetCommand& cell = batch.second.get_snmp_set().get_commands().push_back();
    cell.set_uniq(uniq_++);
    MON::IniName& name = cell.get_id().select_name();
    name.set_section(found->table);
    name.set_name(found->column);
    name.set_index(index);
    cell.set_value(value);
  }
  dpc_.Activate();
}

void SnmpAgentCtrl::Send(const MON::SnmpSetCommands& commands) {
  SendCells(commands);
}

void SnmpAgentCtrl::SendTrapsink(const std::list<std::string>& receivers) {
  if (receivers.empty()) return;
  MON::Command command;
  auto& sinks = command.select_snmp_trapsink_set().get_trapsinks();
  for (const std::string& host : receivers) sinks.push_back().set_host(host);
  SendToAll(command);
}

void SnmpAgentCtrl::OnDpcSend() {
  for (auto& batch : batches_) {
    auto& cells = batch.second.get_snmp_set().get_commands();
    if (cells.size() == 0) continue;
    SendCells(batch.second.get_snmp_set());
    cells.clear();
  }
  dpc_.Deactivate();
}

const MON::SnmpSetCommands* SnmpAgentCtrl::pending(int type) const {
  auto it = batches_.find(type);
  return it == batches_.end() ? nullptr : &it->second.get_snmp_set();
}

void SnmpAgentCtrl::SendCells(const MON::SnmpSetCommands& commands) {
  // A command the link cannot frame would be refused whole, and so would
  // its cells at every later push: commands are cut by size as well as by
  // count, and only a cell that fits no frame at all is left out.
  MON::Command command;
  auto& part = command.select_snmp_set().get_commands();
  std::size_t used = 0;
  for (const MON::SnmpSetCommand& cell : commands.get_commands()) {
    const std::size_t size = encodedSize(cell);
    if (size == 0 || size > roomForCells(1)) {
      std::cerr << "snmpagent: cell " << cellName(cell) << " does not encode into one frame, not sent" << std::endl;
      continue;
    }
    if (part.size() == max_cells || used + size > roomForCells(part.size() + 1)) {
      SendToAll(command);
      part.clear();
      used = 0;
    }
    part.push_back(cell);
    used += size;
  }
  if (part.size() != 0) SendToAll(command);
}

void SnmpAgentCtrl::SendToAll(const MON::Command& command) {
  for (auto& instance : instances_) instance->Command(command);
}
