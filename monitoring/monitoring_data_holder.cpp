#include "monitoring/monitoring_data_holder.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iostream>

#include "platform/sysroot.h"
#include "runtime/fd.h"
#include "runtime/net.h"
#include "runtime/traces.h"

namespace {

const std::string kRoot = sysroot::monitoring_dir;
const std::string kTermCounters = kRoot + "term_cnts/";
const std::string kControllers = kRoot + "controller/";
constexpr int kFramers = 4;
constexpr int kNetIfIndexes = 16;
constexpr mode_t kDirMode = 0755;

void logCatalogFailure(const std::string& fixed, int error) {
  std::clog << "FAIL create monitoring catalog <" << fixed << "> with code=" << error << std::endl;
}

// Everything below the root is reached through descriptors opened without
// following a link, so a link planted in the tree (or a directory swapped
// for one) leads nowhere: a tree whose parent directory others can write
// must never make the daemon write or delete outside it.
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Deeper than any directory the holder makes; what lies below is not the
// holder's and is left.
constexpr int kMaxDepth = 8;

// The root's own name: without its final slash, which would make every
// lookup follow a link there.
std::string rootPath() {
  std::string path = sysroot::path(kRoot);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The root itself, opened afresh for each use (it may have been removed and
// made again), never through a link.
Fd openRoot() { return Fd(::open(rootPath().c_str(), kDirFlags)); }

// The directory at rel (components joined by "/", "" for the root), walked
// from the root one component at a time; empty with errno set on failure.
Fd openTreeDir(const std::string& rel) {
  Fd dir = openRoot();
  std::size_t at = 0;
  while (dir.valid() && at < rel.size()) {
    std::size_t end = rel.find('/', at);
    if (end == std::string::npos) end = rel.size();
    const std::string component = rel.substr(at, end - at);
    if (component == "..") {  // would leave the tree
      errno = EPERM;
      dir.reset();
    } else if (!component.empty()) {
      dir.reset(::openat(dir.get(), component.c_str(), kDirFlags));
    }
    at = end + 1;
  }
  return dir;
}

// Splits a fixed path of the tree into its directory below the root and its
// last name ("term_cnts/board3" -> "term_cnts", "board3").
void splitTreePath(const std::string& fixed, std::string& dir, std::string& name) {
  std::string rel = fixed.compare(0, kRoot.size(), kRoot) == 0 ? fixed.substr(kRoot.size()) : fixed;
  while (!rel.empty() && rel.back() == '/') rel.pop_back();
  const std::size_t slash = rel.rfind('/');
  dir = slash == std::string::npos ? std::string() : rel.substr(0, slash);
  name = slash == std::string::npos ? rel : rel.substr(slash + 1);
}

// The names in a directory (read whole before anything is removed from it);
// false when it cannot be read. readdir64: a 32-bit readdir gives up on
// large inode numbers.
bool listDirectory(int dirFd, std::vector<std::string>& names) {
  const int fd = ::dup(dirFd);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  ::rewinddir(dir);
  errno = 0;
  while (const struct dirent64* e = ::readdir64(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const bool ok = errno == 0;
  ::closedir(dir);
  return ok;
}

// Removes the entry name of the directory dirFd with all it holds. A link is
// removed itself, never what it points to.
void removeEntry(int dirFd, const std::string& name, int depth = 0) {
  if (::unlinkat(dirFd, name.c_str(), 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  Fd sub(::openat(dirFd, name.c_str(), kDirFlags));
  if (!sub.valid()) return;
  std::vector<std::string> names;
  if (depth < kMaxDepth && listDirectory(sub.get(), names))
    for (const std::string& n : names) removeEntry(sub.get(), n, depth + 1);
  ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
}

// Makes the directory name in dirFd unless it is one already (a link to one
// is not); false with errno set when there is none afterwards.
bool makeDirectoryAt(int dirFd, const std::string& name) {
  if (::mkdirat(dirFd, name.c_str(), kDirMode) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat64 st;
  if (::fstatat64(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) return true;
  errno = EEXIST;
  return false;
}

// A name from a controller's message that may become one path component:
// nothing that leaves the directory it is put in.
bool plainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A controller's text for a log line: bytes outside printable ASCII as \xHH.
std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

INet4::Addr addressOf(const TERM::HostAddress& host) {
  INet4::Addr address;
  int port = 0;
  address.Assign(host2str(host), &port);
  return address;
}

void writeBytes(FILE* file, const std::vector<char>& octets) {
  if (!octets.empty()) std::fwrite(octets.data(), 1, octets.size(), file);
}

void writeNumber(FILE* file, const MonitoringDataHolder::SaveStatusArg* arg) {
  if (arg) std::fprintf(file, "%d", arg->value);
}

// The held record with the same key takes the new one's fields; a new key
// is appended.
template <class Record, class Key>
void mergeRecord(std::vector<Record>& held, const Record& record, Key key) {
  for (Record& h : held)
    if (key(h) == key(record)) {
      h = record;
      return;
    }
  held.push_back(record);
}

template <class T>
bool updateText(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Two set commands name the same value: equal oids, or equal names (section,
// name and index). An oid never names what a name does.
bool sameIdentity(const MON::SnmpSetCommandId& a, const MON::SnmpSetCommandId& b) {
  if (a.getSelection() != b.getSelection()) return false;
  if (a.getSelection() == MON::SnmpSetCommandId::e_oid) return a.get_oid().str() == b.get_oid().str();
  if (a.getSelection() != MON::SnmpSetCommandId::e_name) return false;
  const MON::IniName& x = a.get_name();
  const MON::IniName& y = b.get_name();
  return x.get_section().str() == y.get_section().str() && x.get_name().str() == y.get_name().str() &&
         x.get_index().getValue() == y.get_index().getValue();
}

}  // namespace

std::string host2str(const TERM::HostAddress& host) { return host.get_iaddr().str(); }

std::string addr2str(const INet4::Addr& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sockaddr().sin_addr, text, sizeof text);
  return text;
}

MonitoringDataHolder::MonitoringDataHolder() {
  // A root that is a link could lead anywhere: clearing it would empty
  // whatever it points to. Such a tree is not used at all.
  struct stat64 st;
  if (::lstat64(rootPath().c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    treeRefused_ = true;
    std::clog << "FAIL monitoring catalog <" << kRoot << "> is a symbolic link: status files are not written"
              << std::endl;
  }
  ClearMonitorFiles();
  findOwnAddress();
  findFramers();
  findNetIfs();
  CheckForMonDir(kRoot);
  CheckForMonDir(kTermCounters);
}

MonitoringDataHolder::~MonitoringDataHolder() { ClearMonitorFiles(); }

void MonitoringDataHolder::findOwnAddress() {
  std::list<INet4::Addr> addresses;
  if (Net::ifconfig(addresses, Net::ifconfig_private) > 0) {
    ownAddress_ = addresses.front();
    ownAddress_.sockaddr().sin_port = 0;
  } else {
    ownAddress_.Assign("127.0.0.1", nullptr);
  }
}

void MonitoringDataHolder::findFramers() {
  for (int n = 0; n < kFramers; ++n) {
    const std::string path = std::string(sysroot::framer_dir) + std::to_string(n);
    struct stat st;
    if (::stat(sysroot::path(path).c_str(), &st) == 0) framers_.emplace_back(n + 1, path);
  }
}

void MonitoringDataHolder::findNetIfs() {
  Fd sock(::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 255));
  if (!sock.valid()) return;
  for (int index = 0; index < kNetIfIndexes; ++index) {
    ifreq request;
    std::memset(&request, 0, sizeof request);
    request.ifr_ifindex = index;
    if (::ioctl(sock.get(), SIOCGIFNAME, &request) < 0) continue;
    char name[IFNAMSIZ + 1] = {};
    std::memcpy(name, request.ifr_name, IFNAMSIZ);
    netIfs_.emplace_back(index, name);
  }
}

// ---- the board's own values ----

bool MonitoringDataHolder::setDipValue(int value) {
  if (value == dipValue_) return false;
  dipValue_ = value;
  SaveStatusToFile(kRoot + "dip", &MonitoringDataHolder::DipStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setPowerStatus(const LGCP::POWERStatus& status) {
  if (status.getValue() == powerStatus_) return false;
  powerStatus_ = status.getValue();
  SaveStatusToFile(kRoot + "powerstatus", &MonitoringDataHolder::PowerStatusSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setConfigVersion(std::uint32_t version, std::uint64_t stamp) {
  if (version == configVersion_ && stamp == configStamp_) return false;
  configVersion_ = version;
  configStamp_ = stamp;
  SaveStatusToFile(kRoot + "config_version", &MonitoringDataHolder::ConfigVersionSaver, nullptr);
  return true;
}

bool MonitoringDataHolder::setTemperature(const std::string& text) { return updateText(temperature_, text); }
bool MonitoringDataHolder::setBuildVersion(const std::string& text) { return updateText(buildVersion_, text); }
bool MonitoringDataHolder::setFPGAVersion(const std::string& text) { return updateText(fpgaVersion_, text); }
bool MonitoringDataHolder::setBootVersion(const std::string& text) { return updateText(bootVersion_, text); }
bool MonitoringDataHolder::setBoardVersion(const std::string& text) { return updateText(boardVersion_, text); }

// ---- controllers ----

bool MonitoringDataHolder::setControllerStatus(const LGCP::ControllerInfo& info) {
  const INet4::Addr address = addressOf(info.get_host());
  const bool own = address.IsEqual(ownAddress_);
  const int status = info.get_status().getValue();
  if (own) ownControllerStatus_ = status;

  bool changed = false;
  LGCP::ControllerInfo* held = nullptr;
  for (LGCP::ControllerInfo& c : controllers_)
    if (c.get_host() == info.get_host()) {
      held = &c;
      break;
    }
  if (!held) {
    controllers_.push_back(info);
    changed = true;
  } else if (held->get_status().getValue() != status) {
    held->get_status().setValue(status);
    changed = true;
  }
  if (!changed) return false;

  if (traces.monitoring_internal)
    std::clog << "New controller " << addr2str(address) << " status - " << info.get_status() << std::endl;
  CheckForMonControllerDir(address);
  SaveStatusArg arg;
  arg.value = status;
  SaveStatusToFile(kControllers + addr2str(address) + "/status", &MonitoringDataHolder::ControllerStatusSaver, &arg);
  return own;
}

// ---- the display command ----

void MonitoringDataHolder::setDisplayStatus(const LGCP::DisplayParams& params) {
  switch (params.getSelection()) {
    case LGCP::DisplayParams::e_board:
      setBoardStatus(params.get_board());
      break;
    case LGCP::DisplayParams::e_snmpTrapReceivers:
      setSnmpTrapReceivers(params.get_snmpTrapReceivers());
      break;
    case LGCP::DisplayParams::e_emPhone:
      setEmPhoneInfo(params.get_emPhone());
      break;
    case LGCP::DisplayParams::e_controller: {
      const LGCP::ControllerInfo& info = params.get_controller();
      setControllerStatus(info);
      // What the controller itself says of this board is kept apart from
      // the watch's verdicts, which also land in the own status.
      if (addressOf(info.get_host()).IsEqual(ownAddress_)) reportedControllerStatus_ = info.get_status().getValue();
      break;
    }
    case LGCP::DisplayParams::e_termCounter:
      setTermCounter(params.get_termCounter());
      break;
    case LGCP::DisplayParams::e_snmp_set:
      setSnmpCommands(params.get_snmp_set());
      break;
    default:  // framer LEDs: the monitoring service's own
      break;
  }
}

void MonitoringDataHolder::setBoardStatus(const LGCP::BoardInfo& info) {
  if (info.getSelection() != LGCP::BoardInfo::e_boardStatus) return;
  const LGCP::BoardStatusParams& board = info.get_boardStatus();
  SaveStatusArg arg;
  arg.record = &board;
  SaveStatusToFile(kRoot + "board" + std::to_string(board.get_position().getValue()),
                   &MonitoringDataHolder::BoardStatusSaver, &arg);
}

void MonitoringDataHolder::setEmPhoneInfo(const LGCP::EmPhoneInfo& info) {
  if (info.getSelection() != LGCP::EmPhoneInfo::e_phoneStatus) return;
  const LGCP::EmPhoneStatusParams& phone = info.get_phoneStatus();
  SaveStatusArg arg;
  arg.record = &phone;
  SaveStatusToFile(kRoot + "emphone" + std::to_string(phone.get_id().getValue()),
                   &MonitoringDataHolder::PhoneStatusSaver, &arg);
}

void MonitoringDataHolder::setSnmpTrapReceivers(const ASN1::SEQUENCE_OF<ASN1::IA5String>& receivers) {
  trapReceivers_.clear();
  if (traces.monitoring_internal) std::clog << "Trap receivers:" << receivers << std::endl;
  for (const ASN1::IA5String& r : receivers) trapReceivers_.push_back(r.str());
}

void MonitoringDataHolder::setTermCounter(const LGCP::TermCounter& counter) {
  const int owner = counter.get_owner().getValue();
  const bool hasId = counter.hasOptionalField(LGCP::TermCounter::o_ownerId);
  std::string path;
  switch (owner) {
    case LGCP::TermCounterOwner::router:
      path = kTermCounters + "router";
      break;
    case LGCP::TermCounterOwner::controller:
      path = kTermCounters + "controller";
      break;
    case LGCP::TermCounterOwner::server:
      path = kTermCounters + "server";
      break;
    case LGCP::TermCounterOwner::extBoard:
      if (hasId) path = kTermCounters + "board" + std::to_string(counter.get_ownerId().getValue());
      break;
    default:
      break;
  }
  if (!path.empty()) {
    SaveStatusArg arg;
    arg.value = counter.get_cnt().getValue();
    SaveStatusToFile(path, &MonitoringDataHolder::TermCounterSaver, &arg);
  }

  // The boards' counters are told apart by their ids, which are their rows:
  // a counter with an id never lands on one without (whose count is
  // published under no row), nor the other way round. Every other owner has
  // one counter, whatever id a record carries: a second record would be
  // published to the same cell as the first, in list order, and the cell
  // would not say what the status file says.
  for (LGCP::TermCounter& held : termCounters_) {
    if (held.get_owner().getValue() != owner) continue;
    const bool same = owner != LGCP::TermCounterOwner::extBoard ||
                      (held.hasOptionalField(LGCP::TermCounter::o_ownerId) == hasId &&
                       (!hasId || held.get_ownerId().getValue() == counter.get_ownerId().getValue()));
    if (same) {
      held.get_cnt().setValue(counter.get_cnt().getValue());
      return;
    }
  }
  termCounters_.push_back(counter);
}

void MonitoringDataHolder::setSnmpCommands(const MON::SnmpSetCommands& commands) {
  auto& held = snmpCommands_.get_commands();
  for (const MON::SnmpSetCommand& command : commands.get_commands()) {
    bool found = false;
    for (MON::SnmpSetCommand& h : held)
      if (sameIdentity(h.get_id(), command.get_id())) {
        h.set_value(command.get_value().str());
        found = true;
        break;
      }
    if (!found) held.push_back(command);
    if (command.get_id().getSelection() == MON::SnmpSetCommandId::e_name)
      saveSnmpValue(command.get_id().get_name(), command.get_value().str());
  }
}

void MonitoringDataHolder::saveSnmpValue(const MON::IniName& id, const std::string& value) {
  const std::string& section = id.get_section().str();
  const std::string& name = id.get_name().str();
  const std::string index = std::to_string(id.get_index().getValue());
  // Both names come from the controller's message and become path
  // components: neither may lead out of the directory it is put in.
  if (!plainFileName(section) || !plainFileName(name)) {
    std::clog << "FAIL save snmp value <" << printable(section) << "/" << index << "/" << printable(name)
              << ">: section and name must be plain file names" << std::endl;
    return;
  }
  std::string path = kRoot + section;
  CheckForMonDir(path);
  path += "/" + index;
  CheckForMonDir(path);
  snmpValue_ = value;
  SaveStatusToFile(path + "/" + name, &MonitoringDataHolder::StringParamSaver, nullptr);
}

// ---- the tree ----

void MonitoringDataHolder::SaveStatusToFile(const std::string& path, Saver saver, const SaveStatusArg* arg) {
  if (treeRefused_) return;
  std::string dirName, name;
  splitTreePath(path, dirName, name);
  const Fd dir = openTreeDir(dirName);
  // Not through a link, and never into a pipe or a device that would block
  // or take the value elsewhere; nor into a file hard-linked from outside.
  Fd fd(dir.valid() ? ::openat(dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666)
                    : -1);
  struct stat64 st;
  if (fd.valid() && (::fstat64(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) {
    fd.close();
    errno = EPERM;
  }
  FILE* file = fd.valid() && ::ftruncate(fd.get(), 0) == 0 ? ::fdopen(fd.get(), "w") : nullptr;
  if (!file) {
    std::clog << "FAIL create temporary file <" << path << "> with code=" << errno << std::endl;
    return;
  }
  fd.release();
  (this->*saver)(file, arg);
  std::fclose(file);
}

void MonitoringDataHolder::CheckForMonDir(const std::string& path) {
  if (treeRefused_) return;
  std::string dirName, name;
  splitTreePath(path, dirName, name);
  const Fd dir = openTreeDir(dirName);
  if (name.empty()) {  // the root
    if (dir.valid()) return;
    if (errno != ENOENT || ::mkdir(rootPath().c_str(), kDirMode) != 0 || !openRoot().valid())
      logCatalogFailure(path, errno);
    return;
  }
  if (!dir.valid() || !makeDirectoryAt(dir.get(), name)) logCatalogFailure(path, errno);
}

void MonitoringDataHolder::CheckForMonControllerDir(const INet4::Addr& address) {
  if (treeRefused_) return;
  const Fd root = openRoot();
  if (!root.valid() || !makeDirectoryAt(root.get(), "controller")) {
    logCatalogFailure(kControllers, errno);
    return;
  }
  const Fd controllers(::openat(root.get(), "controller", kDirFlags));
  const std::string name = addr2str(address);
  const std::string path = kControllers + name;
  struct stat64 st;
  if (controllers.valid() && ::fstatat64(controllers.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode))
    return;
  if (!controllers.valid() || ::mkdirat(controllers.get(), name.c_str(), kDirMode) != 0)
    logCatalogFailure(path, errno);
  if (!controllers.valid() || !address.IsEqual(ownAddress_)) return;
  if (::symlinkat(sysroot::path(path).c_str(), controllers.get(), "self") != 0)
    std::clog << "FAIL create symlink to monitoring catalog <" << path << "> with code=" << errno << std::endl;
}

void MonitoringDataHolder::ClearMonitorFiles() {
  if (treeRefused_) return;
  const Fd root = openRoot();
  std::vector<std::string> names;
  if (!root.valid() || !listDirectory(root.get(), names)) return;
  for (const std::string& name : names) removeEntry(root.get(), name);
}

void MonitoringDataHolder::ClearControllerFiles() {
  // A lost controller's word on this board no longer holds.
  reportedControllerStatus_ = HSP::ControllerStatus::unknown;
  if (treeRefused_) return;
  const Fd root = openRoot();
  std::vector<std::string> names;
  if (!root.valid() || !listDirectory(root.get(), names)) return;
  for (const std::string& name : names) {
    if (name.compare(0, 5, "board") != 0) continue;
    if (traces.monitoring_internal) std::clog << "remove monitoring info: " << name << std::endl;
    removeEntry(root.get(), name);
  }
  boards_.clear();
}

// ---- savers ----

void MonitoringDataHolder::DipStatusSaver(FILE* file, const SaveStatusArg*) { std::fprintf(file, "%d", dipValue_); }

void MonitoringDataHolder::PowerStatusSaver(FILE* file, const SaveStatusArg*) {
  const bool known = powerStatus_ >= LGCP::POWERStatus::standby && powerStatus_ <= LGCP::POWERStatus::both;
  std::fputc(known ? '0' + powerStatus_ : '0', file);
}

void MonitoringDataHolder::ConfigVersionSaver(FILE* file, const SaveStatusArg*) {
  std::fprintf(file, "%08" PRIx32 "-%016" PRIx64, configVersion_, configStamp_);
}

void MonitoringDataHolder::BoardStatusSaver(FILE* file, const SaveStatusArg* arg) {
  if (!arg) return;
  const auto& board = static_cast<const LGCP::BoardStatusParams&>(*arg->record);
  std::fprintf(file, "%d\n", board.get_status().getValue());
  writeBytes(file, board.get_version());
  std::fputc('\n', file);
  std::fprintf(file, "%d\n", board.get_type().getValue());
  // Held only once its file could be written.
  mergeRecord(boards_, board, [](const LGCP::BoardStatusParams& b) { return b.get_position().getValue(); });
}

void MonitoringDataHolder::PhoneStatusSaver(FILE* file, const SaveStatusArg* arg) {
  if (!arg) return;
  const auto& phone = static_cast<const LGCP::EmPhoneStatusParams&>(*arg->record);
  for (const ASN1::OCTET_STRING* octets : {&phone.get_panelSV(), &phone.get_ctrlSV(), &phone.get_fpgaSV()}) {
    writeBytes(file, *octets);
    std::fputc('\n', file);
  }
  for (const ASN1::ENUMERATED* number : {static_cast<const ASN1::ENUMERATED*>(&phone.get_status()),
                                         static_cast<const ASN1::ENUMERATED*>(&phone.get_powerStatus()),
                                         static_cast<const ASN1::ENUMERATED*>(&phone.get_mode()),
                                         static_cast<const ASN1::ENUMERATED*>(&phone.get_hookStatus()),
                                         static_cast<const ASN1::ENUMERATED*>(&phone.get_baseStatus())})
    std::fprintf(file, "%d\n", number->getValue());
  mergeRecord(phones_, phone, [](const LGCP::EmPhoneStatusParams& p) { return p.get_id().getValue(); });
}

void MonitoringDataHolder::TermCounterSaver(FILE* file, const SaveStatusArg* arg) { writeNumber(file, arg); }

void MonitoringDataHolder::ControllerStatusSaver(FILE* file, const SaveStatusArg* arg) { writeNumber(file, arg); }

void MonitoringDataHolder::StringParamSaver(FILE* file, const SaveStatusArg*) {
  if (!snmpValue_.empty()) std::fwrite(snmpValue_.data(), 1, snmpValue_.size(), file);
}
