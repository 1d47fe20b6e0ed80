#include "slots/modem_slot.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
// After <net/if.h>: the kernel's header then adds only what glibc lacks.
#include <linux/if.h>
#include <linux/sockios.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "platform/drv.h"
#include "platform/modem_records.h"
#include "platform/sysroot.h"
#include "runtime/child_process.h"
#include "slots/modem_factory.h"

namespace {

std::string errorText(int err) { return ::strerror(err); }

// The characters of text that the field can carry: what the controller's
// coder cannot encode must not cost the whole signal.
std::string carried(const ASN1::AbstractString& field, const std::string& text) {
  std::string out;
  for (char c : text)
    if (field.alphabetIndex(static_cast<unsigned char>(c)) >= 0) out += c;
  return out;
}

void split(BASE::INTEGER64Bits& field, std::uint64_t value) {
  field.set_low(static_cast<unsigned>(value & 0xFFFFFFFFu));
  field.set_high(static_cast<unsigned>(value >> 32));
}

// A SIOCWANDEV request of one type with its settings in the caller's
// buffer.
int wanRequest(int sock, const std::string& interface, unsigned type, void* settings, unsigned size) {
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::strncpy(ifr.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if_settings s;
  std::memset(&s, 0, sizeof s);
  s.type = type;
  s.size = size;
  s.ifs_ifsu.sync = static_cast<sync_serial_settings*>(settings);
  std::memcpy(&ifr.ifr_ifru, &s, sizeof s);
  return drv::netif_ioctl(sock, SIOCWANDEV, &ifr);
}

}  // namespace

// ---- ModemSlot ----

ModemSlot::ModemSlot(ModemFactory& factory, const TERM::ModemParams& params) : params(params), factory_(factory) {
  child.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot() { Stop(); }

void ModemSlot::say(std::ostream& stream, const std::string& text) const {
  std::ostringstream line;
  line << *this << ": " << text << '\n';
  stream << line.str() << std::flush;
}

bool ModemSlot::IBeforeDestroy() {
  HwMux::instance().Release(IGetReceiveChannel());
  if (pid == -1) {
    unbind();
    return true;
  }
  say(std::cerr, "sent HUP to pppd.");
  // To what it started too: a wrapper's PPP daemon goes with the wrapper.
  // An end read but not yet passed to the slot leaves the pid to others.
  ChildProcess::Signal(pid, SIGHUP, child.ended());
  terminate.reset(new Timer);
  terminate->set(terminate_ms, &ModemSlot::on_terminate_timeout, this);
  return false;
}

bool ModemSlot::IActivate(const TERM::TermActivateParams& activation) {
  if (activation.getSelection() != TERM::TermActivateParams::e_modem) {
    say(std::cerr, "modem's activation requests parameter.");
    return false;
  }
  const TERM::ModemUserParameters& user = activation.get_modem();
  factory_.SendAuth(modem_auth::accept_record(modem_id()));
  factory_.SendAuth(modem_auth::address_record(
      modem_id(), ::inet_addr(user.get_remoteAddr().c_str()), ::inet_addr(user.get_netmask().c_str()),
      ::inet_addr(user.get_gateway().c_str()), ::inet_addr(user.get_dns().c_str()),
      static_cast<std::uint32_t>(user.get_mtu().getValue())));
  return true;
}

void ModemSlot::OnAuth(const modem_auth::attr& record) {
  const std::uint32_t length = record.length();
  switch (record.type()) {
    case modem_auth::auth_request:
      if (length == modem_auth::auth_request_size)
        OnAuthRequest(modem_auth::voauth(record));
      else
        say(std::cerr, "auth request, invalid size: " + std::to_string(length));
      break;
    case modem_auth::accept:
      say(std::cerr, "auth accept, ignored.");
      break;
    case modem_auth::address:
      say(std::cerr, "auth ip, ignored.");
      break;
    case modem_auth::accounting:
      if (length == modem_auth::accounting_size)
        OnAcctInformation(modem_auth::voacct(record));
      else
        say(std::cerr, "auth accounting, invalid size: " + std::to_string(length));
      break;
    default: {
      char type[16];
      std::snprintf(type, sizeof type, "0x%x", static_cast<unsigned>(record.type()));
      say(std::cerr, std::string("unknown request from dial-in plug-in: ") + type);
      break;
    }
  }
}

void ModemSlot::OnAuthRequest(const modem_auth::voauth& request) {
  TERM::ModemProceeding proceeding;
  TERM::MdmRequestUserAuth& auth = proceeding.select_auth();
  const std::string user = request.username();
  const std::string password = request.password();
  auth.get_username() = carried(auth.get_username(), user);
  auth.get_password() = carried(auth.get_password(), password);
  if (auth.get_username().size() != user.size() || auth.get_password().size() != password.size())
    say(std::cerr, "auth request: characters the controller cannot take left out.");
  OnModem(proceeding);
}

void ModemSlot::OnAcctInformation(const modem_auth::voacct& accounting) {
  TERM::ModemProceeding proceeding;
  TERM::MdmAccounting& acct = proceeding.select_acct();
  split(acct.get_octetsOut(), accounting.octets_sent());
  split(acct.get_octetsIn(), accounting.octets_received());
  split(acct.get_packetsOut(), accounting.packets_sent());
  split(acct.get_packetsIn(), accounting.packets_received());
  split(acct.get_time(), accounting.session_time());
  OnModem(proceeding);
}

std::string ModemSlot::program(const char* fallback) const {
  return params.hasOptionalField(TERM::ModemParams::o_execfile) ? params.get_execfile().str() : std::string(fallback);
}

void ModemSlot::append_execargs(std::vector<std::string>& argv) const {
  if (!params.hasOptionalField(TERM::ModemParams::o_execargs)) return;
  const auto& args = params.get_execargs();
  for (unsigned i = 0; i < args.size() && i < max_execargs; ++i) argv.push_back(args[i].str());
}

pid_t ModemSlot::spawn(const std::string& program, const std::vector<std::string>& argv, const char* banner,
                       unsigned delay) {
  // Everything the child needs is made before the fork: after it, the
  // child calls only async-signal-safe functions and leaves with _exit.
  const std::string path = sysroot::path(program);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::size_t bannerLength = banner ? std::strlen(banner) : 0;
  static const char failed[] = "fail to exec!\n";

  const pid_t child = ChildProcess::Fork();
  if (child != 0) return child;
  // The daemon ignores SIGPIPE; the program gets the usual disposition.
  ::signal(SIGPIPE, SIG_DFL);
  if (delay) ::sleep(delay);
  if (bannerLength && ::write(STDOUT_FILENO, banner, bannerLength) < 0) {
  }
  ::execv(path.c_str(), args.data());
  if (banner && ::write(STDOUT_FILENO, failed, sizeof failed - 1) < 0) {
  }
  ::_exit(2);
}

void ModemSlot::pppd_exec(const std::string& device, const char* options) {
  if (pid != -1) return;
  const std::string prog = program(sysroot::pppd);
  std::vector<std::string> argv{sysroot::path(prog)};
  if (params.hasOptionalField(TERM::ModemParams::o_execargs)) {
    append_execargs(argv);
  } else {
    argv.insert(argv.end(), {"file", sysroot::path(std::string(sysroot::ppp_dir) + options), device});
    if (!params.get_cid().empty()) argv.insert(argv.end(), {"remotenumber", params.get_cid().str()});
  }
  const pid_t started = spawn(prog, argv, nullptr);
  if (started < 0) {
    const int err = errno;
    say(std::cerr, "vfork fail: " + errorText(err));
    OnAbort(err);
    return;
  }
  pid = started;
  this->started = started;
  child.Bind(this, &ModemSlot::on_terminate);
  child.Attach(pid);
  say(std::clog, "pppd executed cid=\"" + params.get_cid().str() + "\" pid=" + std::to_string(pid));
}

void ModemSlot::pppd_kill() {
  if (pid == -1) {
    // The program has ended; what it started gets the stop and, after the
    // grace period, SIGKILL.
    if (started > 0) {
      std::ostringstream what;
      what << *this << ": pppd";
      ChildProcess::Abandon(started, SIGHUP, terminate_ms, what.str(), true);
    }
    started = -1;
    return;
  }
  say(std::cerr, "pppd isn't terminated, killing ...");
  ChildProcess::Signal(pid, SIGKILL, child.ended());
  // Its end, if it comes, finds nothing to kill again.
  pid = -1;
  started = -1;
}

void ModemSlot::on_terminate(int status) {
  say(std::clog, "pppd terminated with code " + std::to_string(status));
  pid = -1;
  Ended(status);
}

void ModemSlot::Ended(int status) {
  if (!releasing()) return OnAbort(status);
  terminate.reset();
  unbind();
  on_release();
}

void ModemSlot::on_terminate_timeout() {
  // An end already reaped is read before anything is killed: it finishes
  // the release, and the slot with it.
  const std::weak_ptr<char> alive = alive_;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
  if (alive.expired() || pid == -1) return;
  say(std::cerr, "pppd terminate timeout!");
  pppd_kill();
  if (!releasing()) return;
  unbind();
  on_release();
}

// ---- DspModemSlot ----

DspModemSlot::DspModemSlot(ModemFactory& factory, const TERM::ModemParams& params) : ModemSlot(factory, params) {
  receiverWait.Bind(this, &DspModemSlot::on_receiver_end);
}

DspModemSlot::~DspModemSlot() {
  Stop();
  // The receiver's end is no concern of the controller's, but neither it
  // nor what it started goes on with the slot gone.
  const bool ended = receiver == -1 || receiverWait.ended();
  receiverWait.Detach();
  std::ostringstream what;
  what << *this << ": fax receiver";
  ChildProcess::Abandon(receiverStarted, SIGTERM, terminate_ms, what.str(), ended);
  unbind();
}

void DspModemSlot::on_receiver_end(int) { receiver = -1; }

bool DspModemSlot::Prepare() {
  InitModem();
  return modem != -1;
}

void DspModemSlot::abortSetUp(const char* text) {
  const int err = errno;
  say(std::cerr, text + errorText(err));
  OnAbort(err);
}

void DspModemSlot::InitModem() {
  if (modem != -1) return;
  Fd device(drv::open(sysroot::mctl, O_RDONLY | O_CLOEXEC));
  if (!device.valid()) return abortSetUp("fail to open device: ");
  const int m = drv::ioctl_val(device.get(), mctl::allocate, 0);
  if (m < 0) return abortSetUp("insufficient resources : ");
  const int ts = drv::ioctl_val(device.get(), mctl::timeslot, 0);
  if (ts < 0) return abortSetUp("get timeslot fail : ");
  if (params.hasOptionalField(TERM::ModemParams::o_ddm)) {
    mctl::ModemRequest ddm{m, 0};
    const auto& modes = params.get_ddm();
    for (unsigned i = 0; i < modes.size(); ++i) {
      switch (modes[i].getValue()) {
        case TERM::DigitalDataModeEnum::ddmV110:
          ddm.arg |= mctl::ddm_v110;
          break;
        case TERM::DigitalDataModeEnum::ddm8BIT:
          ddm.arg |= mctl::ddm_8bit;
          break;
        case TERM::DigitalDataModeEnum::ddm7BIT:
          ddm.arg |= mctl::ddm_7bit;
          break;
        default:
          break;
      }
    }
    if (drv::ioctl_ptr(device.get(), mctl::set_ddm, &ddm, sizeof ddm) < 0) return abortSetUp("set DDM failed : ");
  }
  mctl::ModemRequest reset{m, -1};
  if (drv::ioctl_ptr(device.get(), mctl::reset_dmp, &reset, sizeof reset) < 0)
    say(std::cerr, "reset dmp parameters failed : " + errorText(errno));
  if (params.hasOptionalField(TERM::ModemParams::o_dmp)) {
    const auto& dmp = params.get_dmp();
    for (unsigned i = 0; i < dmp.size(); ++i) {
      mctl::DmpParam p{m, dmp[i].get_offset().getValue(), dmp[i].get_value().getValue()};
      if (drv::ioctl_ptr(device.get(), mctl::set_dmp, &p, sizeof p) < 0)
        say(std::cerr, "set dmp parameter index=" + std::to_string(p.offset) + " value=" + std::to_string(p.value) +
                           " failed : " + errorText(errno));
    }
  }
  timeslot = ts;
  modem = m;
  mctl = std::move(device);
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  const bool originate = params.hasOptionalField(TERM::ModemParams::o_originate);
  mctl::ModemRequest call{modem, -1};
  if (!params.hasOptionalField(TERM::ModemParams::o_fax)) {
    char terminal[32];
    std::snprintf(terminal, sizeof terminal, sysroot::modem_tty_format, modem);
    if (drv::ioctl_ptr(mctl.get(), originate ? mctl::originate : mctl::answer, &call, sizeof call) < 0)
      return abortSetUp(originate ? "originate failed : " : "answer failed : ");
    // The terminal is named as the board names it: the program opens it
    // there, or takes the modem's number from it.
    pppd_exec(terminal, originate ? "coptions" : "aoptions");
  } else if (params.hasOptionalField(TERM::ModemParams::o_execargs)) {
    RunFaxSender();
  } else if (originate) {
    if (drv::ioctl_ptr(mctl.get(), mctl::fax_originate, &call, sizeof call) < 0) abortSetUp("originate failed : ");
  } else {
    RunFaxReceiver();
  }
}

void DspModemSlot::RunFaxSender() {
  const std::string prog = program(sysroot::fax_sbin);
  std::vector<std::string> argv{sysroot::path(prog), "-m", std::to_string(modem)};
  append_execargs(argv);
  mctl.close();
  const pid_t started = spawn(prog, argv, "executing fax transfer\n");
  if (started < 0) return abortSetUp("vfork fail: ");
  pid = started;
  this->started = started;
  child.Bind(this, &DspModemSlot::on_fax_terminate);
  child.Attach(pid);
  say(std::clog, "fax transfer executed modem=" + std::to_string(modem) + " ts=" + std::to_string(timeslot));
}

void DspModemSlot::RunFaxReceiver() {
  mctl.close();
  // The file's name is made here: the child may only call what is safe
  // after a fork, and the local time is not.
  char name[64] = "";
  const time_t now = ::time(nullptr);
  struct tm local;
  if (!::localtime_r(&now, &local) || ::strftime(name, sizeof name, sysroot::fax_file_format, &local) == 0)
    name[0] = '\0';
  const std::vector<std::string> argv{sysroot::path(sysroot::fax_bin), "-m", std::to_string(modem), "receive",
                                      sysroot::path(name)};
  const pid_t started = spawn(sysroot::fax_bin, argv, "executing\n", 1);
  if (started < 0) return abortSetUp("vfork fail: ");
  receiver = started;
  receiverStarted = started;
  receiverWait.Attach(receiver);
  say(std::clog, "fax receiver executed modem=" + std::to_string(modem) + " ts=" + std::to_string(timeslot));
}

void DspModemSlot::on_fax_terminate(int status) {
  say(std::clog, "fax terminated with code " + std::to_string(status));
  pid = -1;
  if (status & 0xFF) say(std::clog, "fax transfer failed");
  const int pages = (status >> 8) & 0xFF;
  say(std::clog, "pages received: " + std::to_string(pages));
  TERM::ModemProceeding proceeding;
  split(proceeding.select_acct().get_octetsIn(), static_cast<std::uint64_t>(pages));
  OnModem(proceeding);
  Ended(status);
}

// ---- HdlcModemSlot ----

HdlcModemSlot::HdlcModemSlot(ModemFactory& factory, const TERM::ModemParams& params, const std::string& interface)
    : ModemSlot(factory, params), interface(interface) {}

HdlcModemSlot::~HdlcModemSlot() {
  Stop();
  takeDown();
  unbind();
}

bool HdlcModemSlot::Prepare() {
  initModem();
  return channel != -1;
}

void HdlcModemSlot::initModem() {
  if (pid != -1) return;
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  wan::IfaceInfo info{};
  if (wanRequest(sock.get(), interface, IF_GET_IFACE, &info, sizeof info) < 0) {
    say(std::cerr, "SIOCWANDEV/IF_GET_IFACE fail!");
    return;
  }
  channel = info.words[wan::channel_word];
  wan::ProtoSettings ppp{};
  if (wanRequest(sock.get(), interface, IF_PROTO_PPP, &ppp, sizeof ppp) < 0) {
    say(std::cerr, "SIOCWANDEV/IF_PROTO_PPP fail!");
    return;
  }
  pppd_exec(interface, "ioptions");
}

void HdlcModemSlot::takeDown() {
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::strncpy(ifr.ifr_name, interface.c_str(), IFNAMSIZ - 1);
  if (drv::netif_ioctl(sock.get(), SIOCGIFFLAGS, &ifr) < 0) {
    say(std::cerr, "SIOCGIFFLAGS fail!!!");
    return;
  }
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~IFF_UP);
  if (drv::netif_ioctl(sock.get(), SIOCSIFFLAGS, &ifr) < 0) {
    say(std::cerr, "SIOCSIFFLAGS fail!!!");
    return;
  }
  wan::ProtoSettings hdlc{};
  if (wanRequest(sock.get(), interface, IF_PROTO_HDLC, &hdlc, sizeof hdlc) < 0)
    say(std::cerr, "SIOCWANDEV/IF_PROTO_HDLC fail!");
}
