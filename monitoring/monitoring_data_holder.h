#pragma once
// The monitoring service's memory of the board: the last value of every
// item it watches (DIP switch, power, configuration version, versions,
// temperature, the controllers' statuses) and of every record the
// controller's `display` command gave (boards, phones, terminal counters,
// trap receivers, SNMP set commands), with the board's framers and network
// interfaces found at start.
//
// It is the only writer of the status tree under "/var/monitoring/":
//   dip, powerstatus, config_version        the board's own values
//   board<position>, emphone<id>            display records, one line a field
//   term_cnts/{router,controller,server}    terminal counters
//   term_cnts/board<ownerId>
//   controller/<address>/status             each controller's status number
//   controller/self                         link to the board's own address
//   <section>/<index>/<name>                SNMP set values given by name
// The tree is emptied, subdirectories included, when the holder is built and
// when it goes, so nothing of an earlier run is presented as current.
// Nothing in it is followed: a root that is a symbolic link is not used at
// all (one log line), and files and directories below the root are made,
// written and removed through the tree's own descriptors, so that a link
// put in the tree is removed or refused, never written or emptied through.
//
// Setters store the new value, write its file when one belongs to it, and
// answer whether the value changed: the monitoring service publishes only
// then. File failures are logged and never reported to the caller.
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "asn1/modules/HSP.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/TERM.h"
#include "monitoring/framer_data_holder.h"
#include "monitoring/net_if_data_holder.h"
#include "runtime/inet4_addr.h"

// The address text of a host record (its port is not used).
std::string host2str(const TERM::HostAddress& host);
// The dotted-quad text of an address, without its port.
std::string addr2str(const INet4::Addr& address);

class MonitoringDataHolder {
 public:
  // Empties the status tree, finds the board's own address, its framers and
  // its network interfaces, and creates the tree's root and "term_cnts/".
  MonitoringDataHolder();
  // Empties the status tree.
  ~MonitoringDataHolder();
  MonitoringDataHolder(const MonitoringDataHolder&) = delete;
  MonitoringDataHolder& operator=(const MonitoringDataHolder&) = delete;

  // The board's own values; each writes its file on a change.
  bool setDipValue(int value);                                        // "dip"
  bool setPowerStatus(const LGCP::POWERStatus& status);               // "powerstatus"
  bool setConfigVersion(std::uint32_t version, std::uint64_t stamp);  // "config_version"
  // Held for SNMP only; compared byte by byte, line ends included.
  bool setTemperature(const std::string& text);
  bool setBuildVersion(const std::string& text);
  bool setFPGAVersion(const std::string& text);
  bool setBootVersion(const std::string& text);
  bool setBoardVersion(const std::string& text);

  // Merges one controller's status and writes its status file on a change.
  // True only when the status held for the board's own address changed.
  // The controller watch calls it with its own verdicts; the display
  // command with what the controller reported.
  bool setControllerStatus(const LGCP::ControllerInfo& info);

  // Applies one `display` command: the records it carries are stored and
  // their files written (the framer LEDs are not the holder's).
  void setDisplayStatus(const LGCP::DisplayParams& params);
  void setBoardStatus(const LGCP::BoardInfo& info);
  void setEmPhoneInfo(const LGCP::EmPhoneInfo& info);
  void setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& receivers);
  void setTermCounter(const LGCP::TermCounter& counter);
  // Stores the commands (a command of a known identity takes the new value)
  // and writes the value of each command given by name to
  // <section>/<index>/<name>. A section or name that is empty, "." or "..",
  // or holds "/" or NUL, writes no file (one log line): the command is still
  // stored.
  void setSnmpCommands(const MON::SnmpSetCommands& commands);

  // The controller connection is lost: removes the root's "board*" entries,
  // forgets the board records and what the controller reported for this
  // board.
  void ClearControllerFiles();

  // What is held, for the monitoring service's checks and SNMP publishing.
  const INet4::Addr& own_address() const { return ownAddress_; }
  // The status last stored for the board's own address, from either side;
  // the value published as the board's controller status.
  int own_controller_status() const { return ownControllerStatus_; }
  // The status the connected controller last reported for this board
  // (unknown until it reports, and again once it is gone): the status to
  // hold while a controller is connected.
  int reported_controller_status() const { return reportedControllerStatus_; }
  // The controller watch's guess for the local "controller" process.
  int controller_pid() const { return controllerPid_; }
  void set_controller_pid(int pid) { controllerPid_ = pid; }
  const std::vector<LGCP::ControllerInfo>& controllers() const { return controllers_; }
  int power_status() const { return powerStatus_; }
  const std::vector<LGCP::BoardStatusParams>& boards() const { return boards_; }
  const std::vector<LGCP::EmPhoneStatusParams>& phones() const { return phones_; }
  const std::vector<LGCP::TermCounter>& term_counters() const { return termCounters_; }
  const std::list<std::string>& trap_receivers() const { return trapReceivers_; }
  int dip_value() const { return dipValue_; }
  std::uint64_t config_stamp() const { return configStamp_; }
  std::uint32_t config_version() const { return configVersion_; }
  const std::string& temperature() const { return temperature_; }
  const std::string& build_version() const { return buildVersion_; }
  const std::string& fpga_version() const { return fpgaVersion_; }
  const std::string& boot_version() const { return bootVersion_; }
  const std::string& board_version() const { return boardVersion_; }
  const MON::SnmpSetCommands& snmp_commands() const { return snmpCommands_; }
  std::vector<FramerDataHolder>& framers() { return framers_; }
  const std::vector<FramerDataHolder>& framers() const { return framers_; }
  std::vector<NetIfDataHolder>& net_ifs() { return netIfs_; }
  const std::vector<NetIfDataHolder>& net_ifs() const { return netIfs_; }

  // The argument of a saver: the record to write or, for a counter or a
  // status, the number itself.
  union SaveStatusArg {
    const ASN1::AbstractData* record;
    int value;
  };
  typedef void (MonitoringDataHolder::*Saver)(FILE* file, const SaveStatusArg* arg);

  // Writes one file of the tree (a fixed path) through a saver; a file that
  // cannot be opened is logged and left.
  void SaveStatusToFile(const std::string& path, Saver saver, const SaveStatusArg* arg);
  // Makes sure a directory of the tree exists.
  void CheckForMonDir(const std::string& path);
  // Makes sure "controller/" and the address's directory exist, and links
  // "controller/self" to the latter when it is the board's own and new.
  void CheckForMonControllerDir(const INet4::Addr& address);
  // Removes everything under the root, without following links.
  void ClearMonitorFiles();
  // The root was a link at start: the tree is left alone.
  bool tree_refused() const { return treeRefused_; }

 private:
  void DipStatusSaver(FILE* file, const SaveStatusArg* arg);
  void PowerStatusSaver(FILE* file, const SaveStatusArg* arg);
  void ConfigVersionSaver(FILE* file, const SaveStatusArg* arg);
  void BoardStatusSaver(FILE* file, const SaveStatusArg* arg);
  void PhoneStatusSaver(FILE* file, const SaveStatusArg* arg);
  void TermCounterSaver(FILE* file, const SaveStatusArg* arg);
  void ControllerStatusSaver(FILE* file, const SaveStatusArg* arg);
  void StringParamSaver(FILE* file, const SaveStatusArg* arg);

  void findOwnAddress();
  void findFramers();
  void findNetIfs();
  void saveSnmpValue(const MON::IniName& id, const std::string& value);

  bool treeRefused_ = false;
  INet4::Addr ownAddress_;
  int ownControllerStatus_ = HSP::ControllerStatus::unknown;
  int reportedControllerStatus_ = HSP::ControllerStatus::unknown;
  int controllerPid_ = -1;
  std::vector<LGCP::ControllerInfo> controllers_;
  int powerStatus_ = LGCP::POWERStatus::unknown;
  std::vector<LGCP::BoardStatusParams> boards_;
  std::vector<LGCP::EmPhoneStatusParams> phones_;
  std::vector<LGCP::TermCounter> termCounters_;
  std::list<std::string> trapReceivers_;
  int dipValue_ = -1;
  std::uint64_t configStamp_ = ~std::uint64_t(0);
  std::uint32_t configVersion_ = ~std::uint32_t(0);
  std::string temperature_;
  std::string buildVersion_;
  std::string fpgaVersion_;
  std::string bootVersion_;
  std::string boardVersion_;
  MON::SnmpSetCommands snmpCommands_;
  std::string snmpValue_;  // the value StringParamSaver writes
  std::vector<FramerDataHolder> framers_;
  std::vector<NetIfDataHolder> netIfs_;
};
