#include "monitoring/monitoring_ctl.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/drv.h"
#include "platform/hal_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"
#include "runtime/ini_file.h"
#include "runtime/proc_lookup.h"
#include "runtime/traces.h"
#include "runtime/version.h"

namespace {

const char kWhitespace[] = " \t\n\r\f\v";
const char kControllerProcess[] = "controller";
const std::string kConfigPrefix = "config.";
const std::string kConfigSaved = "config.2save.tar.bz2";
constexpr std::size_t kFramerReadMax = 1024;

// The first line of a board file, at most limit - 1 characters, line end
// kept; false when the file does not open.
bool readLine(const char* fixed, int limit, std::string& line) {
  FILE* file = std::fopen(sysroot::path(fixed).c_str(), "re");
  if (!file) return false;
  std::vector<char> buf(static_cast<std::size_t>(limit) + 1, '\0');
  if (!std::fgets(buf.data(), limit, file)) buf[0] = '\0';
  std::fclose(file);
  line = buf.data();
  return true;
}

std::string unsignedText(std::uint32_t value) { return std::to_string(value); }
std::string signedText(int value) { return std::to_string(value); }
std::string octets(const ASN1::OCTET_STRING& value) { return std::string(value.begin(), value.end()); }

bool allHex(const std::string& text) {
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return !text.empty();
}

// The version and stamp of a configuration archive named
// "config.VVVVVVVV?SSSSSSSSSSSSSSSS..." (hexadecimal, one separator between).
// A name whose digits are not all hexadecimal is no archive: it must not
// read as version 0.
bool configVersionOf(const std::string& name, std::uint32_t& version, std::uint64_t& stamp) {
  if (name.size() < kConfigPrefix.size() + 25) return false;
  const std::string v = name.substr(kConfigPrefix.size(), 8);
  const std::string s = name.substr(kConfigPrefix.size() + 9, 16);
  if (!allHex(v) || !allHex(s)) return false;
  version = static_cast<std::uint32_t>(std::strtoul(v.c_str(), nullptr, 16));
  stamp = static_cast<std::uint64_t>(std::strtoull(s.c_str(), nullptr, 16));
  return true;
}

// The words of a line split at blanks, each trimmed of white space.
std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t blank = line.find(' ', at);
    const std::size_t end = blank == std::string::npos ? line.size() : blank;
    if (end > at) {
      std::string w = line.substr(at, end - at);
      const std::size_t first = w.find_first_not_of(kWhitespace);
      const std::size_t last = w.find_last_not_of(kWhitespace);
      words.push_back(first == std::string::npos ? std::string() : w.substr(first, last - first + 1));
    }
    at = end + 1;
  }
  return words;
}

}  // namespace

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return monitoring;
}

MonitoringCtl::MonitoringCtl() {
  bkgTimer_.set(first_background_ms, &MonitoringCtl::onBkgCheckTimer, this);
  powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
  controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
  push_.Bind(this, &MonitoringCtl::OnDpcSend);
}

MonitoringCtl::~MonitoringCtl() {
  agents_.UnBind();
  if (fd_ >= 0) {
    leds_ = 0;
    writeLeds();
    ::close(fd_);
    fd_ = -1;
  }
}

void MonitoringCtl::PutHeader(std::ostream& s) const { s << "monitoring: "; }

void MonitoringCtl::Configure(IniFile::File& file) {
  agents_.CreateInstances(file["snmpagent"]);
  agents_.Bind(this);
}

// ---- the board control device ----

bool MonitoringCtl::IsOpen() {
  if (fd_ >= 0) return true;
  leds_ = 0;
  fd_ = drv::open(sysroot::hal, O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return false;
  writeLeds();  // every framer LED starts dark
  return true;
}

bool MonitoringCtl::halRequest(unsigned long code, std::uint8_t& byte) {
  return drv::ioctl_ptr(fd_, code, &byte, sizeof byte) >= 0;
}

void MonitoringCtl::writeLeds() {
  std::uint8_t byte = leds_;
  halRequest(hal::framer_leds, byte);
}

void MonitoringCtl::setFramerLed(const LGCP::FramerInfo& info) {
  if (!IsOpen()) return;
  const unsigned n = info.get_e1().getValue();
  if (n > 3) return;  // the board has four framers
  const std::uint8_t link = static_cast<std::uint8_t>(1u << (2 * n));
  const std::uint8_t line = static_cast<std::uint8_t>(1u << (2 * n + 1));
  const LGCP::FramerInfoData& data = info.get_info();
  if (data.getSelection() == LGCP::FramerInfoData::e_link) {
    if (data.get_link())
      leds_ &= static_cast<std::uint8_t>(~link);
    else
      leds_ |= link;
  } else if (data.getSelection() == LGCP::FramerInfoData::e_line) {
    if (data.get_line()) {
      // A line that comes up lights both until its link is reported up.
      if (!(leds_ & line)) leds_ |= link;
      leds_ |= line;
    } else {
      leds_ &= static_cast<std::uint8_t>(~(line | link));
    }
  }
  writeLeds();
}

// ---- timers ----

void MonitoringCtl::onBkgCheckTimer(Timer*) {
  doVersionsCheck();
  doConfigCheck();
  doFramerCheck();
  doTemperatureCheck();
  bkgTimer_.set(background_ms, &MonitoringCtl::onBkgCheckTimer, this);
}

void MonitoringCtl::onPowerCheckTimer(Timer*) {
  doPowerCheck();
  doDipCheck();
  doNetIfCheck();
  powerTimer_.set(power_ms, &MonitoringCtl::onPowerCheckTimer, this);
}

void MonitoringCtl::onControllerCheckTimer(Timer*) {
  doControllerCheck();
  controllerTimer_.set(controller_ms, &MonitoringCtl::onControllerCheckTimer, this);
}

// ---- checks ----

void MonitoringCtl::doVersionsCheck() {
  static const struct {
    const char* file;
    const char* label;
    bool (MonitoringDataHolder::*set)(const std::string&);
    void (MonitoringCtl::*publish)();
  } versions[] = {
      {sysroot::version_file, "BuildVersion - ", &MonitoringDataHolder::setBuildVersion,
       &MonitoringCtl::sendSnmpStatusBuildVersion},
      {sysroot::uboot_version, "BootVersion - ", &MonitoringDataHolder::setBootVersion,
       &MonitoringCtl::sendSnmpStatusBootVersion},
      {sysroot::fpga_version, "FPGAVersion - ", &MonitoringDataHolder::setFPGAVersion,
       &MonitoringCtl::sendSnmpStatusFPGAVersion},
      {sysroot::board_version, "BoardVersion - ", &MonitoringDataHolder::setBoardVersion,
       &MonitoringCtl::sendSnmpStatusBoardVersion},
  };
  for (const auto& v : versions) {
    std::string text;
    if (!readLine(v.file, 255, text)) continue;
    if (traces.monitoring_internal) std::clog << ext::header(this) << v.label << text << std::endl;
    if ((holder_.*v.set)(text)) (this->*v.publish)();
  }
}

void MonitoringCtl::doTemperatureCheck() {
  std::string text;
  if (!readLine(sysroot::temperature, 255, text)) return;
  if (traces.monitoring_internal) std::clog << ext::header(this) << "Temperature - " << text << std::endl;
  const std::size_t end = text.find_first_of(kWhitespace);
  if (end != std::string::npos) text.resize(end);
  if (holder_.setTemperature(text)) sendSnmpTemperature();
}

void MonitoringCtl::doConfigCheck() {
  // The entries are taken by their status (links not followed) in the
  // directory itself, without moving the process's working directory.
  std::error_code ec;
  std::filesystem::directory_iterator it(sysroot::path(sysroot::etc_dir), ec);
  if (ec) return;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return;
    const std::filesystem::file_status status = it->symlink_status(ec);
    if (ec || std::filesystem::is_directory(status)) continue;
    const std::string name = it->path().filename().string();
    if (name.compare(0, kConfigPrefix.size(), kConfigPrefix) != 0) continue;
    if (name.compare(0, kConfigSaved.size(), kConfigSaved) == 0) continue;
    std::uint32_t version = 0;
    std::uint64_t stamp = 0;
    if (!configVersionOf(name, version, stamp)) continue;
    if (holder_.setConfigVersion(version, stamp)) sendSnmpGatewayConfigVersion();
  }
}

void MonitoringCtl::doFramerCheck() {
  for (FramerDataHolder& framer : holder_.framers()) {
    const int fd = ::open(sysroot::path(framer.path()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (traces.monitoring_internal)
        std::clog << ext::header(this) << "Error open file: \"" << framer.path() << "\" errno=\""
                  << std::strerror(errno) << "\"" << std::endl;
      continue;
    }
    std::vector<unsigned char> buf(kFramerReadMax);
    const ssize_t n = ::read(fd, buf.data(), buf.size());
    const int error = errno;
    ::close(fd);
    if (n <= 0) {
      if (traces.monitoring_internal)
        std::clog << ext::header(this) << "Error read file: \"" << framer.path() << "\" errno=\""
                  << std::strerror(n == 0 ? 0 : error) << "\"" << std::endl;
      continue;
    }
    buf.resize(static_cast<std::size_t>(n));
    if (framer.setFramerStatus(buf)) sendSnmpFramerStatus(framer);
  }
}

void MonitoringCtl::doPowerCheck() {
  std::uint8_t raw = 0;
  if (!IsOpen() || !halRequest(hal::power_supply, raw)) return;
  LGCP::POWERStatus status;
  if (raw == 0)
    status.setValue(LGCP::POWERStatus::both);
  else if (raw <= 3)
    status.setValue(raw);
  else
    status.setValue(LGCP::POWERStatus::unknown);
  if (!holder_.setPowerStatus(status)) return;
  if (traces.monitoring_internal) std::clog << ext::header(this) << "New power status - " << status << std::endl;
  // Nobody to tell while no controller is connected: it gets the state on
  // connecting.
  bool connected = false;
  if (CheckServerConnection(connected) && connected) sendPowerStatus();
  sendSnmpPowerStatus();
}

void MonitoringCtl::doDipCheck() {
  std::uint8_t dip = 0;
  if (!IsOpen() || !halRequest(hal::dip_switch, dip)) return;
  if (!holder_.setDipValue(dip)) return;
  if (traces.monitoring_internal)
    std::clog << ext::header(this) << "New dip - " << static_cast<char>(dip) << std::endl;
  sendSnmpGatewayDip();
}

void MonitoringCtl::doNetIfCheck() {
  for (NetIfDataHolder& netIf : holder_.net_ifs())
    if (netIf.updateNetIf()) sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::doControllerCheck() {
  LGCP::ControllerInfo info;
  info.get_host().set_iaddr(addr2str(holder_.own_address()));
  bool connected = false;
  int status;
  if (CheckServerConnection(connected) && connected) {
    status = holder_.reported_controller_status();
  } else {
    const int pid = find_proc_by_name(kControllerProcess, holder_.controller_pid());
    holder_.set_controller_pid(pid);
    status = pid > 0 ? HSP::ControllerStatus::notconnection : HSP::ControllerStatus::notrun;
  }
  info.get_status().setValue(status);
  if (holder_.setControllerStatus(info)) sendSnmpControllerStatus();
}

// ---- the control service ----

void MonitoringCtl::OnConnect() {
  doPowerCheck();
  sendPowerStatus();
  doControllerCheck();
}

void MonitoringCtl::OnDisconnect() {
  holder_.ClearControllerFiles();
  doControllerCheck();
}

bool MonitoringCtl::OnCommand(const LGCP::Command& command) {
  if (command.getSelection() != LGCP::Command::e_display) return false;
  OnDisplayCMD(command.get_display());
  Success();
  return true;
}

void MonitoringCtl::OnDisplayCMD(const LGCP::DisplayParams& params) {
  holder_.setDisplayStatus(params);
  switch (params.getSelection()) {
    case LGCP::DisplayParams::e_board:
      if (params.get_board().getSelection() == LGCP::BoardInfo::e_boardStatus)
        sendSnmpBoardStatus(params.get_board().get_boardStatus());
      break;
    case LGCP::DisplayParams::e_snmpTrapReceivers:
      sendSnmpTrapReceivers();
      break;
    case LGCP::DisplayParams::e_framer:
      setFramerLed(params.get_framer());
      break;
    case LGCP::DisplayParams::e_emPhone:
      if (params.get_emPhone().getSelection() == LGCP::EmPhoneInfo::e_phoneStatus)
        sendSnmpEmPhoneStatus(params.get_emPhone().get_phoneStatus());
      break;
    case LGCP::DisplayParams::e_controller:
      sendSnmpControllerStatus();
      break;
    case LGCP::DisplayParams::e_termCounter:
      sendSnmpRouterTermCnt();
      sendSnmpControllerTermCnt();
      sendSnmpServerTermCnt();
      sendSnmpBoardTermCnt();
      break;
    case LGCP::DisplayParams::e_snmp_set:
      sendSnmpCommands(params.get_snmp_set());
      break;
    default:
      break;
  }
}

void MonitoringCtl::OnSignal(const LGCP::Signal& signal) {
  if (signal.getSelection() != LGCP::Signal::e_trunkStatus) return;
  const ACP::TrunkStatus& trunk = signal.get_trunkStatus();
  // The framers are the E1 trunks'; a BRI line's status carries the same
  // numbers and must not pass for a framer's.
  if (trunk.get_type().getValue() != ACP::TrunkType::e1) return;
  bool changed = false;
  for (FramerDataHolder& framer : holder_.framers())
    if (framer.number() - 1 == trunk.get_trunk().getValue()) changed |= framer.setFramerStatus(trunk.get_state());
  if (changed) push_.Activate();
}

void MonitoringCtl::OnSnmpAgentConnect(const std::string&) { push_.Activate(); }

void MonitoringCtl::sendPowerStatus() {
  LGCP::Signal signal;
  signal.select_power().setValue(holder_.power_status());
  SendSignal(signal);
}

// ---- publishing ----

void MonitoringCtl::sendSnmpDriverBuild() {
  std::string line;
  if (!readLine(sysroot::voice_version, 127, line) || line.empty()) return;
  const std::vector<std::string> w = wordsOf(line);
  std::string text = "none";
  if (w.size() >= 4)
    text = w[1] + " [" + w[2] + " " + w[3] + "]";
  else if (w.size() == 3)
    text = w[1] + " [" + w[2] + "]";
  agents_.Send(SnmpAgentCtrl::driverBuild, text);
}

void MonitoringCtl::sendSnmpSoftwareBuild() { agents_.Send(SnmpAgentCtrl::softwareBuild, Version::current.tag()); }

void MonitoringCtl::sendSnmpPowerStatus() {
  agents_.Send(SnmpAgentCtrl::powerStatus, unsignedText(static_cast<std::uint32_t>(holder_.power_status())));
}

void MonitoringCtl::sendSnmpControllerStatus() {
  agents_.Send(SnmpAgentCtrl::controllerStatus,
               unsignedText(static_cast<std::uint32_t>(holder_.own_controller_status())));
}

void MonitoringCtl::sendSnmpGatewayDip() {
  agents_.Send(SnmpAgentCtrl::gatewayDip, unsignedText(static_cast<std::uint32_t>(holder_.dip_value())));
}

void MonitoringCtl::sendSnmpGatewayConfigVersion() {
  agents_.Send(SnmpAgentCtrl::gatewayConfigVersion, unsignedText(holder_.config_version()));
}

void MonitoringCtl::sendSnmpTemperature() { agents_.Send(SnmpAgentCtrl::temperature, holder_.temperature()); }

void MonitoringCtl::sendSnmpStatusBuildVersion() {
  agents_.Send(SnmpAgentCtrl::sgBuildVersion, holder_.build_version());
}

void MonitoringCtl::sendSnmpStatusFPGAVersion() { agents_.Send(SnmpAgentCtrl::sgFPGAVersion, holder_.fpga_version()); }

void MonitoringCtl::sendSnmpStatusBootVersion() { agents_.Send(SnmpAgentCtrl::sgBootVersion, holder_.boot_version()); }

void MonitoringCtl::sendSnmpStatusBoardVersion() {
  agents_.Send(SnmpAgentCtrl::sgBoardVersion, holder_.board_version());
}

void MonitoringCtl::sendSnmpBoardStatus(const LGCP::BoardStatusParams& board) {
  const int row = board.get_position().getValue();
  agents_.Send(SnmpAgentCtrl::extBoardStatus, row, signedText(board.get_status().getValue()));
  agents_.Send(SnmpAgentCtrl::extBoardSoftVer, row, octets(board.get_version()));
  agents_.Send(SnmpAgentCtrl::extBoardType, row, signedText(board.get_type().getValue()));
}

void MonitoringCtl::sendSnmpBoardStatuses() {
  for (const LGCP::BoardStatusParams& board : holder_.boards()) sendSnmpBoardStatus(board);
}

void MonitoringCtl::sendSnmpEmPhoneStatus(const LGCP::EmPhoneStatusParams& phone) {
  const int row = phone.get_id().getValue() + 1;
  agents_.Send(SnmpAgentCtrl::emPhonePanelSoftVer, row, octets(phone.get_panelSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneCtrlSoftVer, row, octets(phone.get_ctrlSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneFpgaSoftVer, row, octets(phone.get_fpgaSV()));
  agents_.Send(SnmpAgentCtrl::emPhoneStatus, row, signedText(phone.get_status().getValue()));
  agents_.Send(SnmpAgentCtrl::emPhonePowerStatus, row, signedText(phone.get_powerStatus().getValue()));
  agents_.Send(SnmpAgentCtrl::emPhoneMode, row, signedText(phone.get_mode().getValue()));
  agents_.Send(SnmpAgentCtrl::emPhoneHookStatus, row, signedText(phone.get_hookStatus().getValue()));
  agents_.Send(SnmpAgentCtrl::emPhoneBaseStatus, row, signedText(phone.get_baseStatus().getValue()));
}

void MonitoringCtl::sendSnmpEmPhoneStatuses() {
  for (const LGCP::EmPhoneStatusParams& phone : holder_.phones()) sendSnmpEmPhoneStatus(phone);
}

void MonitoringCtl::sendTermCounters(int owner, SnmpAgentCtrl::MonitoringItemType item) {
  for (const LGCP::TermCounter& counter : holder_.term_counters()) {
    if (counter.get_owner().getValue() != owner) continue;
    int row = 0;
    if (owner == LGCP::TermCounterOwner::extBoard) {
      if (!counter.hasOptionalField(LGCP::TermCounter::o_ownerId)) continue;
      row = counter.get_ownerId().getValue();
    }
    agents_.Send(item, row, unsignedText(static_cast<std::uint32_t>(counter.get_cnt().getValue())));
  }
}

void MonitoringCtl::sendSnmpRouterTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::router, SnmpAgentCtrl::routerTermCnt);
}

void MonitoringCtl::sendSnmpControllerTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::controller, SnmpAgentCtrl::controllerTermCnt);
}

void MonitoringCtl::sendSnmpServerTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::server, SnmpAgentCtrl::serverTermCnt);
}

void MonitoringCtl::sendSnmpBoardTermCnt() {
  sendTermCounters(LGCP::TermCounterOwner::extBoard, SnmpAgentCtrl::extBoardTermCnt);
}

void MonitoringCtl::sendSnmpFramerStatus(const FramerDataHolder& framer) {
  const int row = framer.number();
  agents_.Send(SnmpAgentCtrl::e1Connected, row, signedText(framer.connected()));
  agents_.Send(SnmpAgentCtrl::e1StatusDsc, row, framer.state_text());
  agents_.Send(SnmpAgentCtrl::e1SignalLoss, row, signedText(framer.signal_loss()));
  agents_.Send(SnmpAgentCtrl::e1FrameAlignLoss, row, signedText(framer.frame_loss()));
  agents_.Send(SnmpAgentCtrl::e1NegSlipCount, row, signedText(framer.slip_negative()));
  agents_.Send(SnmpAgentCtrl::e1PosSlipCount, row, signedText(framer.slip_positive()));
}

void MonitoringCtl::sendSnmpFramerStatus() {
  for (const FramerDataHolder& framer : holder_.framers()) sendSnmpFramerStatus(framer);
}

void MonitoringCtl::sendSnmpNetIfStatus(const NetIfDataHolder& netIf) {
  const int row = netIf.index();
  agents_.Send(SnmpAgentCtrl::ifOperStatus, row, signedText(netIf.oper_status()));
  agents_.Send(SnmpAgentCtrl::ifAdminStatus, row, signedText(netIf.admin_status()));
  agents_.Send(SnmpAgentCtrl::ifDescr, row, netIf.name());
}

void MonitoringCtl::sendSnmpNetIfStatus() {
  for (const NetIfDataHolder& netIf : holder_.net_ifs()) sendSnmpNetIfStatus(netIf);
}

void MonitoringCtl::sendSnmpTrapReceivers() { agents_.SendTrapsink(holder_.trap_receivers()); }

void MonitoringCtl::sendSnmpCommands(const MON::SnmpSetCommands& commands) { agents_.Send(commands); }

void MonitoringCtl::sendSnmpCommands() { agents_.Send(holder_.snmp_commands()); }

void MonitoringCtl::OnDpcSend() {
  sendSnmpTrapReceivers();
  sendSnmpDriverBuild();
  sendSnmpSoftwareBuild();
  sendSnmpPowerStatus();
  sendSnmpControllerStatus();
  sendSnmpGatewayDip();
  sendSnmpGatewayConfigVersion();
  sendSnmpTemperature();
  sendSnmpStatusBuildVersion();
  sendSnmpStatusFPGAVersion();
  sendSnmpStatusBootVersion();
  sendSnmpStatusBoardVersion();
  sendSnmpBoardStatuses();
  // Every phone's cells go twice, each time under new numbers.
  sendSnmpEmPhoneStatuses();
  sendSnmpEmPhoneStatuses();
  sendSnmpRouterTermCnt();
  sendSnmpControllerTermCnt();
  sendSnmpServerTermCnt();
  sendSnmpBoardTermCnt();
  sendSnmpFramerStatus();
  sendSnmpNetIfStatus();
  sendSnmpCommands();
  push_.Deactivate();
}
