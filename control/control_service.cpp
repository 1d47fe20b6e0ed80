#include "control/control_service.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

#include "control/strm_protocol.h"
#include "control/tpkt_protocol.h"
#include "runtime/profile.h"

namespace Control {

const char* GetTextNotation(Service::State::Type state) {
  switch (state) {
    case Service::State::Idle:
      return "Idle";
    case Service::State::Connecting:
      return "Connecting";
    case Service::State::Deactivating:
      return "Deactivating";
    case Service::State::Connected:
      return "Connected";
  }
  return "Unknown";
}

Service::Service(bool log) : log_(log), strm_(new StrmProtocol) {
  add_protocol_tail(strm_);
  add_protocol_tail(new Tpkt_protocol);
  disconnect_.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() = default;

bool Service::Activate() {
  Deactivate();
  state_ = State::Connecting;
  const bool ok = ImplActivate();
  if (!ok) state_ = State::Idle;
  return ok;
}

void Service::Deactivate() {
  ImplDeactivate();
  // A close not yet reported stays unreported: its report would rearm the
  // connector and tell the user of a link it has just put down.
  disconnect_.Deactivate();
  state_ = State::Idle;
}

void Service::Disconnect() {
  if (state_ == State::Deactivating) return;
  ProtocolsFamily::deactivate();
}

void Service::Send(const char* data, int length) {
  static Profile::Point build("Control::Service::Send [1]");
  static Profile::Point frame("Control::Service::Send [2]");
  if (state_ != State::Connected) {
    if (state_ != State::Deactivating && refused_++ == 0 && log_)
      std::cerr << "Control::Service::Send() ignore Send request in " << GetTextNotation(state_) << " state."
                << std::endl;
    return;
  }
  if (length < 0 || static_cast<unsigned>(length) > Tpkt_protocol::max_payload) {
    std::cerr << "Control::Service::Send() refuse message of " << length << " octets, max "
              << Tpkt_protocol::max_payload << "." << std::endl;
    return;
  }
  build.begin();
  Packet p;
  if (!p.try_reserve_head(0)) {
    build.end();
    std::cerr << "Control::Service::Send() drop message: packet pool empty." << std::endl;
    return;
  }
  prepare_head(p);
  if (length > 0) std::memcpy(p.put(static_cast<unsigned>(length)), data, static_cast<unsigned>(length));
  build.end();
  frame.begin();
  ProtocolsFamily::message(p);
  frame.end();
}

const std::string& Service::service_name() const { return strm_->connection_name(); }

void Service::service_name(const std::string& name) { strm_->set_connection_name(name); }

Measure& Service::get_read_measure() { return strm_->read_measure(); }

Measure& Service::get_write_measure() { return strm_->write_measure(); }

std::uint32_t Service::GetOverflowCounter() const { return strm_->write_failures(); }

void Service::Release() { strm_->release(); }

void Service::Attach(const Fd& fd, const std::string& name) {
  if (refused_ > 0 && log_)
    std::cerr << "Control::Service::Send() ignored " << refused_ << " Send request" << (refused_ == 1 ? "" : "s")
              << " while not connected." << std::endl;
  refused_ = 0;
  name_ = name;
  state_ = State::Connected;
  strm_->attach(fd);
  ProtocolsFamily::activate();
  if (user_) user_->OnConnect();
}

void Service::on_message(Packet& p) {
  if (state_ == State::Deactivating || !user_) return;
  user_->OnMessage(reinterpret_cast<const char*>(p.data()), static_cast<int>(p.length()));
}

void Service::on_activated(Protocol*) {}

void Service::on_deactivated(Protocol*, Protocol_status) {
  if (log_) std::cerr << "control connection " << name_ << " closed." << std::endl;
  state_ = State::Deactivating;
  disconnect_.Activate();
}

void Service::OnDeactivateDPC() {
  disconnect_.Deactivate();
  state_ = State::Connecting;
  ImplOnDisconnect();
  if (user_) user_->OnDisconnect();
}

void ServiceNet::Connected(const Fd& fd, const INet4::Addr& peer) {
  if (state() == State::Deactivating) return;
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && log())
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && log())
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer_ = peer;
  Attach(fd, peer.GetString());
}

void ServiceUnix::Connected(const Fd& fd, const std::string& name) {
  if (state() == State::Deactivating) return;
  Attach(fd, name);
}

}  // namespace Control
