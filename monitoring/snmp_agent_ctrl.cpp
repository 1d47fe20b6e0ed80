#include "monitoring/snmp_agent_ctrl.h"

#include "runtime/ini_file.h"

namespace {

// The agent types that carry an item.
constexpr std::int32_t kKavrola = SnmpAgentInstance::kavrola;
constexpr std::int32_t kVeskgwTm = SnmpAgentInstance::veskgw_tm;
constexpr std::int32_t kBoth = kKavrola | kVeskgwTm;

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
  const auto& cells = commands.get_commands();
  if (cells.size() <= max_cells) {
    if (cells.size() == 0) return;
    MON::Command command;
    command.set_snmp_set(commands);
    SendToAll(command);
    return;
  }
  for (unsigned first = 0; first < cells.size(); first += max_cells) {
    MON::Command command;
    auto& part = command.select_snmp_set().get_commands();
    for (unsigned i = first; i < cells.size() && i < first + max_cells; ++i) part.push_back(cells[i]);
    SendToAll(command);
  }
}

void SnmpAgentCtrl::SendToAll(const MON::Command& command) {
  for (auto& instance : instances_) instance->Command(command);
}
