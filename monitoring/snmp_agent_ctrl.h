#pragma once
// The SNMP agent links and what goes to them. Each monitored value is one
// MIB cell, named by a table, a column and a row index; the fixed item table
// says which cell an item is and which agent types carry it. Cell values
// queued while one event is handled are batched per agent type into
// `snmp-set` commands, and every batch goes to every link once the event is
// done (a deferred call). Trap sinks and lists of set commands go out at
// once. A list of cells longer than an agent's decoder takes in one
// SEQUENCE OF (max_cells), or longer than one frame of the link carries,
// goes as several commands, in order; a cell that does not encode into
// one frame (a value of 16384 characters or more does not encode at all)
// is left out, with a log line naming it.
//
//   SnmpAgentCtrl agents;
//   agents.CreateInstances(file["snmpagent"]);
//   agents.Bind(&monitoring);                              // told of each connect
//   agents.Send(SnmpAgentCtrl::powerStatus, "3");          // queued, sent after the event
//
// A batch is emptied when it is flushed, whether or not any link was up:
// values then lost reach the agents again with the full push that follows
// each connection.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "asn1/modules/MON.h"
#include "monitoring/snmp_agent_instance.h"
#include "runtime/dpc.h"

namespace IniFile {
class Section;
}

class SnmpAgentCtrl {
 public:
  enum MonitoringItemType {
    driverBuild = 0,
    softwareBuild,
    powerStatus,
    controllerStatus,
    gatewayDip,
    gatewayConfigVersion,
    extBoardStatus,
    extBoardSoftVer,
    extBoardType,
    emPhonePanelSoftVer,
    emPhoneCtrlSoftVer,
    emPhoneFpgaSoftVer,
    emPhoneStatus,
    emPhonePowerStatus,
    emPhoneMode,
    emPhoneHookStatus,
    emPhoneBaseStatus,
    routerTermCnt,
    controllerTermCnt,
    serverTermCnt,
    extBoardTermCnt,
    e1Connected,
    e1StatusDsc,
    e1SignalLoss,
    e1FrameAlignLoss,
    e1NegSlipCount,
    e1PosSlipCount,
    sgBuildVersion,
    sgFPGAVersion,
    sgBootVersion,
    sgBoardVersion,
    ifDescr,
    ifAdminStatus,
    ifOperStatus,
    temperature,
  };

  // One row of the item table: the agent types (bits of
  // SnmpAgentInstance::MonitoringAddressType) that carry it and its cell.
  struct MonitoringItem {
    MonitoringItemType id;
    std::int32_t mask;
    const char* table;
    const char* column;
  };
  static const std::vector<MonitoringItem>& items();

  // The most cells one `snmp-set` command carries: the most elements the
  // PER decoder an agent is built on accepts in a list.
  static constexpr unsigned max_cells = 128;

  SnmpAgentCtrl();
  ~SnmpAgentCtrl();
  SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
  SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

  // One link per block of the section, in order; a link whose block is
  // wrong stays in the list, inactive.
  void CreateInstances(IniFile::Section& section);
  void Bind(ISnmpAgentNotify* notify);
  void UnBind();

  // Queues a cell value (row 0 for a scalar).
  void Send(MonitoringItemType item, const std::string& value);
  void Send(MonitoringItemType item, int index, const std::string& value);
  // Sends the list as `snmp-set` commands to every link at once.
  void Send(const MON::SnmpSetCommands& commands);
  // Sends one `snmp-trapsink-set` command to every link at once, one sink
  // per text (its host, without a port).
  void SendTrapsink(const std::list<std::string>& receivers);
  // Flushes the batches (the deferred call).
  void OnDpcSend();

  const std::vector<std::unique_ptr<SnmpAgentInstance>>& instances() const { return instances_; }
  // The next command number.
  std::uint32_t uniq() const { return uniq_; }
  // The cells queued for an agent type and not yet flushed.
  const MON::SnmpSetCommands* pending(int type) const;

 private:
  void SendToAll(const MON::Command& command);
  // Sends the cells to every link as `snmp-set` commands of at most
  // max_cells cells, each fitting one frame, in order.
  void SendCells(const MON::SnmpSetCommands& commands);

  std::vector<std::unique_ptr<SnmpAgentInstance>> instances_;
  Dpc dpc_;
  std::uint32_t uniq_ = 1;
  ISnmpAgentNotify* notify_ = nullptr;
  // By agent type that carries items, ascending: its batch of cells (an
  // `snmp-set` command).
  std::map<int, MON::Command> batches_;
};
