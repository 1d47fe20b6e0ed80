#include "slots/modem_factory.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "platform/drv.h"
#include "platform/modem_records.h"
#include "platform/sysroot.h"
#include "runtime/inet4_addr.h"
#include "slots/auth_client.h"
#include "slots/modem_slot.h"
#include "slots/socket_peer.h"

namespace {

// A driver that never says ENODEV must not hold the start-up.
constexpr unsigned max_modems = 1024;
constexpr unsigned max_interfaces = 256;
constexpr int listen_backlog = 64;

template <class T, class U>
void erase(std::vector<T*>& list, U* item) {
  list.erase(std::remove(list.begin(), list.end(), static_cast<T*>(item)), list.end());
}

}  // namespace

ModemFactory& ModemFactory::instance() {
  static ModemFactory factory(auth_port);
  return factory;
}

ModemFactory::ModemFactory(unsigned short port) : port_(port), peerCheck_(&socket_peer::holder) {
  authEvent_.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
  IQuery();
  Init();
}

ModemFactory::~ModemFactory() {
  retry_.reset();
  clients_.clear();
  authEvent_.Release();
}

void ModemFactory::Put(std::ostream& s) const {
  s << "modem[" << modemCount_ << "," << modemSlots_.size() << "]: ";
}

std::ostream& operator<<(std::ostream& s, const ModemFactory& f) {
  f.Put(s);
  return s;
}

void ModemFactory::say(const std::string& text) const {
  std::ostringstream line;
  line << *this << text << '\n';
  std::cerr << line.str() << std::flush;
}

// ---- slots and resources ----

Slot* ModemFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_modem) return nullptr;
  const TERM::ModemParams& p = params.get_modem();
  if (p.hasOptionalField(TERM::ModemParams::o_ddm) && p.get_ddm().size() > 0 && !freeInterfaces_.empty()) {
    const std::string interface = freeInterfaces_.front();
    freeInterfaces_.erase(freeInterfaces_.begin());
    HdlcModemSlot* slot = new HdlcModemSlot(*this, p, interface);
    modemSlots_.push_back(slot);
    hdlcSlots_.push_back(slot);
    return slot;
  }
  DspModemSlot* slot = new DspModemSlot(*this, p);
  modemSlots_.push_back(slot);
  dspSlots_.push_back(slot);
  return slot;
}

void ModemFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_modem(modemCount_);
  resources.set_digital_modems(static_cast<unsigned>(freeInterfaces_.size()));
}

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  modemCount_ = 0;
  Fd mctl(drv::open(sysroot::mctl, O_RDWR | O_CLOEXEC));
  if (!mctl.valid()) {
    say(std::string("fail to open \"") + sysroot::mctl + "\" : " + ::strerror(errno));
    return;
  }
  long previous = -1;
  while (modemCount_ < max_modems) {
    const int next = drv::ioctl_val(mctl.get(), mctl::enumerate, static_cast<unsigned long>(previous));
    if (next < 0) {
      if (errno != ENODEV) say(std::string("enum fail: ") + ::strerror(errno));
      break;
    }
    ++modemCount_;
    previous = next;
  }
}

void ModemFactory::update_hdlcDevices() {
  freeInterfaces_.clear();
  Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  for (unsigned n = 0; n < max_interfaces; ++n) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "hdlc%u", n);
    if (drv::netif_ioctl(sock.get(), SIOCGIFINDEX, &ifr) < 0 || drv::netif_ioctl(sock.get(), SIOCGIFFLAGS, &ifr) < 0)
      break;
    if (!(ifr.ifr_flags & IFF_POINTOPOINT) || (ifr.ifr_flags & IFF_LOOPBACK)) continue;
    // An interface a digital modem holds is not free: handing it out again
    // would run two PPP daemons on it.
    const std::string name = ifr.ifr_name;
    if (std::any_of(hdlcSlots_.begin(), hdlcSlots_.end(),
                    [&](const HdlcModemSlot* s) { return s->interface_name() == name; }))
      continue;
    freeInterfaces_.push_back(name);
  }
  if (freeInterfaces_.empty()) return;
  std::string line = "found point-o-point devices:";
  for (const std::string& name : freeInterfaces_) line += " " + name;
  std::clog << line + "\n" << std::flush;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  erase(modemSlots_, slot);
  erase(dspSlots_, slot);
  CloseClientsOf(slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  erase(modemSlots_, slot);
  erase(hdlcSlots_, slot);
  CloseClientsOf(slot);
  const std::string& name = slot->interface_name();
  if (std::find(freeInterfaces_.begin(), freeInterfaces_.end(), name) == freeInterfaces_.end())
    freeInterfaces_.push_back(name);
}

ModemSlot* ModemFactory::FindModemByDsp(int id) const {
  for (ModemSlot* slot : modemSlots_)
    if (slot->EqAuthId(id)) return slot;
  return nullptr;
}

// ---- the authentication server ----

unsigned short ModemFactory::listening_port() const {
  sockaddr_in a;
  socklen_t length = sizeof a;
  if (!authSocket_.valid() || ::getsockname(authSocket_.get(), reinterpret_cast<sockaddr*>(&a), &length) != 0)
    return 0;
  return ntohs(a.sin_port);
}

void ModemFactory::Init() {
  Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock.valid()) return RetryLater(std::string("fail to open auth socket: ") + ::strerror(errno));
  // Connections the server closed linger on its port for a while: they
  // must not keep a restarted daemon from listening.
  const int on = 1;
  if (::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
    say(std::string("fail to reuse auth address: ") + ::strerror(errno));
  sockaddr_in a;
  std::memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_port = htons(port_);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0)
    return RetryLater(std::string("fail to bind auth socket: ") + ::strerror(errno));
  if (::listen(sock.get(), listen_backlog) != 0)
    return RetryLater(std::string("fail to listen auth socket: ") + ::strerror(errno));
  if (!sock.NonBlock()) return RetryLater(std::string("can't set socket to non block mode: ") + ::strerror(errno));
  authSocket_ = std::move(sock);
  authEvent_.Schedule(authSocket_, POLLIN);
  if (!lastFailure_.empty()) say("auth server listening on port " + std::to_string(listening_port()) + ".");
  lastFailure_.clear();
}

void ModemFactory::RetryLater(const std::string& why) {
  // Said once while it stays the same, not every five seconds.
  if (why != lastFailure_) say(why + " (trying again every " + std::to_string(retry_ms / 1000) + " s)");
  lastFailure_ = why;
  retry_.set(retry_ms, &ModemFactory::OnRetry, this);
}

void ModemFactory::OnRetry() {
  if (!authSocket_.valid()) Init();
}

void ModemFactory::OnSocketEvent(int fd, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    authEvent_.Release();
    authSocket_.close();
    RetryLater("auth server socket error.");
    return;
  }
  if (!(revents & POLLIN)) return;
  sockaddr_in peer;
  socklen_t length = sizeof peer;
  Fd conn(::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC));
  if (!conn.valid() || !conn.NonBlock()) {
    say("fail to set nonblock mode.");
    return;
  }
  const INet4::Addr from(peer);
  if (clients_.size() >= modemCount_ + spare_clients && !MakeRoom()) {
    say("auth clients at their limit of " + std::to_string(clients_.size()) + ", connection from " +
        from.GetString() + " refused.");
    return;
  }
  // Said once the connection is known to be a modem's: a stranger's
  // attempts cost one line each, not three.
  clients_.push_back(std::unique_ptr<AuthClient>(new AuthClient(std::move(conn), from, *this)));
  clients_.back()->Activate();
}

ModemSlot* ModemFactory::OwnerOf(const AuthClient& client) const {
  std::vector<pid_t> children;
  for (const ModemSlot* slot : modemSlots_)
    if (slot->child_pid() > 0) children.push_back(slot->child_pid());
  if (children.empty() || client.closed()) return nullptr;
  const pid_t pid = peerCheck_(client.fd(), children);
  if (pid <= 0) return nullptr;
  for (ModemSlot* slot : modemSlots_)
    if (slot->child_pid() == pid) return slot;
  return nullptr;
}

bool ModemFactory::MakeRoom() {
  AuthClient* stranger = nullptr;
  for (const std::unique_ptr<AuthClient>& c : clients_) {
    if (!c->served() && !c->closed() && !Claim(*c) && !stranger) stranger = c.get();
  }
  if (!stranger) return false;
  stranger->Close("auth clients at their limit of " + std::to_string(clients_.size()) +
                  ", this one is no modem's");
  stranger->CheckDisconnect();
  return clients_.size() < modemCount_ + spare_clients;
}

bool ModemFactory::Claim(AuthClient& client) {
  if (client.stranger()) return false;
  ModemSlot* owner = OwnerOf(client);
  if (!owner) {
    client.MarkStranger();
    return false;
  }
  client.Bind(*owner);
  say("incoming auth connection from " + client.peer().GetString() + " of " + owner->GetName() + " pid " +
      std::to_string(owner->child_pid()));
  return true;
}

void ModemFactory::CloseClientsOf(const ModemSlot* slot) {
  std::vector<AuthClient*> bound;
  for (const std::unique_ptr<AuthClient>& c : clients_)
    if (c->slot() == slot) bound.push_back(c.get());
  for (AuthClient* c : bound) {
    c->Close("its modem slot has gone");
    c->CheckDisconnect();
  }
}

void ModemFactory::OnAuth(const modem_auth::attr& record, AuthClient& from) {
  if (!from.served() && !Claim(from)) {
    from.Close("no modem's program holds port " + std::to_string(from.peer().port()));
    return;
  }
  ModemSlot* own = from.slot();
  if (!own) {
    from.Close("its modem slot has gone");
    return;
  }
  const int session = record.session();
  if (session != own->modem_id()) {
    if (from.Refuse(AuthClient::other_session))
      say("auth client " + from.peer().GetString() + ": record for session " + std::to_string(session) +
          " refused, the connection is session " + std::to_string(own->modem_id()) + "'s.");
    return;
  }
  ModemSlot* slot = FindModemByDsp(session);
  if (slot != own) {
    // A digital modem's session (-1), which no record may name.
    if (from.Refuse(AuthClient::unknown_session))
      say("receive auth request for unknown session " + std::to_string(session));
    return;
  }
  switch (record.type()) {
    case modem_auth::auth_request:
    case modem_auth::accounting:
      slot->OnAuth(record);
      return;
    case modem_auth::accept:
      if (from.Refuse(AuthClient::accept_record)) slot->OnAuth(record);
      return;
    case modem_auth::address:
      if (from.Refuse(AuthClient::address_record)) slot->OnAuth(record);
      return;
    default:
      if (from.Refuse(AuthClient::unknown_type)) slot->OnAuth(record);
      return;
  }
}

bool ModemFactory::SendAuth(const modem_auth::attr& record) {
  const int session = record.session();
  for (const std::unique_ptr<AuthClient>& c : clients_)
    if (session >= 0 && !c->closed() && c->slot() && c->slot()->modem_id() == session) return c->Send(record);
  say("send error: unknown auth " + std::to_string(session) + " session.");
  return false;
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
  // A stranger's connection has had its one line.
  if (client->served()) {
    std::string line = "auth client " + client->peer().GetString() + " disconnected";
    if (client->refused() > 0) line += ", " + std::to_string(client->refused()) + " of its records refused";
    say(line + ".");
  }
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [&](const std::unique_ptr<AuthClient>& c) { return c.get() == client; });
  if (it != clients_.end()) clients_.erase(it);
}
