#include "control/tpkt_tracer.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <iostream>

#include "control/tpkt_protocol.h"

namespace tpkt_tracer_detail {

Server::Server(const char* listenName, const char* dataName, unsigned bufferSize)
    : data_name_(dataName), buffer_size_(bufferSize) {
  listen_event_.Bind(listenName, &Server::OnEvent, this);
}

Server::~Server() {
  for (Connection* c : connections_) delete c;
  connections_.clear();
}

bool Server::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s.valid()) return false;
  const int on = 1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(s.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(s.get(), 1) != 0 ||
      !s.NonBlock())
    return false;
  listen_fd_ = std::move(s);
  listen_event_.Schedule(listen_fd_, POLLIN);
  return true;
}

void Server::OnEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(listen_fd_.get(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (fd < 0) break;
    Fd conn(fd);
    const INet4::Addr peer(sa);
    std::clog << OpenText() << peer << std::endl;
    if (!conn.NonBlock()) continue;
    Connection* c = new Connection;
    c->fd = std::move(conn);
    c->peer = peer;
    c->buffer.resize(buffer_size_);
    c->event.Bind(data_name_, &Server::OnDataEvent, this);
    c->event.Schedule(c->fd, POLLIN);
    connections_.push_back(c);
    OnOpened(c);
  }
}

Server::List::iterator Server::FindConnection(int fd) {
  return std::find_if(connections_.begin(), connections_.end(),
                      [fd](const Connection* c) { return c->fd.get() == fd || c->event.fd().get() == fd; });
}

Server::List::iterator Server::FindConnection(const INet4::Addr& peer) {
  return std::find_if(connections_.begin(), connections_.end(),
                      [&peer](const Connection* c) { return c->peer.IsEqual(peer); });
}

bool Server::Contains(const Connection* c) const {
  return std::find(connections_.begin(), connections_.end(), c) != connections_.end();
}

void Server::OnDataEvent(int fd, short revents) {
  List::iterator it = FindConnection(fd);
  if (it == connections_.end()) return;
  Connection* c = *it;
  OnDataBegin(it);
  if (revents & (POLLERR | POLLHUP))
    CloseConnection(c);
  else if (revents & POLLIN)
    ReadFrames(c);
  OnDataEnd();
}

// The header is read at the start of the buffer and, once checked, the
// payload over it: a payload of the full buffer size fits.
void Server::ReadFrames(Connection* c) {
  for (;;) {
    const ssize_t n = ::recv(c->fd.get(), c->buffer.data() + c->received, c->expected - c->received, MSG_NOSIGNAL);
    if (n == 0) {
      CloseConnection(c);
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) CloseConnection(c);
      return;
    }
    c->received += static_cast<unsigned>(n);
    if (c->received < c->expected) return;
    c->received = 0;
    if (c->header) {
      const unsigned char* h = c->buffer.data();
      const unsigned length = unsigned(h[2]) << 8 | h[3];
      if (h[0] != 0x03 || h[1] != 0x00 || length < Tpkt_protocol::header_size) {
        CloseConnection(c);
        return;
      }
      const unsigned payload = length - Tpkt_protocol::header_size;
      if (payload == 0) continue;
      if (payload > buffer_size_) {
        CloseConnection(c);
        return;
      }
      c->header = false;
      c->expected = payload;
    } else {
      OnFrame(c, c->buffer.data(), c->expected);
      if (!Contains(c)) return;
      c->header = true;
      c->expected = Tpkt_protocol::header_size;
    }
  }
}

int Server::SendTo(Connection* c, const void* data, unsigned length) {
  if (length > Tpkt_protocol::max_payload) {
    std::clog << "TPKT tracer: message too long, length = " << length << " max = " << Tpkt_protocol::max_payload
              << std::endl;
    return -EMSGSIZE;
  }
  const unsigned total = length + Tpkt_protocol::header_size;
  unsigned char header[4] = {0x03, 0x00, static_cast<unsigned char>(total >> 8), static_cast<unsigned char>(total)};
  iovec parts[2] = {{header, sizeof header}, {const_cast<void*>(data), length}};
  msghdr m{};
  m.msg_iov = parts;
  m.msg_iovlen = 2;
  const ssize_t n = ::sendmsg(c->fd.get(), &m, MSG_NOSIGNAL);
  if (n < 0) {
    const int err = errno;
    if (err != EINTR) CloseConnection(c);
    return -err;
  }
  if (static_cast<unsigned>(n) < total) CloseConnection(c);
  return static_cast<int>(n);
}

void Server::CloseConnection(Connection* c) {
  List::iterator it = std::find(connections_.begin(), connections_.end(), c);
  if (it == connections_.end()) return;
  OnClosing(c);
  connections_.erase(it);
  delete c;
}

}  // namespace tpkt_tracer_detail

TPKTTracer::TPKTTracer(Receiver* receiver)
    : Server("TPKTTracer::OnEvent", "TPKTTracer::OnDataEvent", buffer_size), receiver_(receiver) {
  current_ = connections_.end();
}

TPKTTracer::~TPKTTracer() = default;

const char* TPKTTracer::OpenText() const { return "ACP connection open from "; }

void TPKTTracer::OnClosing(Connection* c) {
  if (current_ != connections_.end() && *current_ == c) current_ = connections_.end();
}

void TPKTTracer::OnFrame(Connection*, const unsigned char* data, unsigned length) {
  if (receiver_) receiver_->OnFrame(data, length);
}

void TPKTTracer::Send(const void* data, unsigned length) {
  if (current_ != connections_.end()) {
    SendTo(*current_, data, length);
    return;
  }
  // A failed target leaves the list: walk a copy.
  const List targets = connections_;
  for (Connection* c : targets)
    if (Contains(c)) SendTo(c, data, length);
}

TPKTTracerP2P::TPKTTracerP2P(Receiver* receiver)
    : Server("TPKTTracerP2P::OnEvent", "TPKTTracerP2P::OnDataEvent", buffer_size), receiver_(receiver) {}

TPKTTracerP2P::~TPKTTracerP2P() = default;

const char* TPKTTracerP2P::OpenText() const { return "TPKT peer-to-peer connection open from "; }

void TPKTTracerP2P::OnOpened(Connection* c) {
  if (receiver_) receiver_->OnOpen(c->peer, c->fd.get());
}

void TPKTTracerP2P::OnClosing(Connection* c) {
  if (receiver_) receiver_->OnClose(c->peer);
  std::clog << "TPKT peer-to-peer connection close for " << c->peer << std::endl;
}

void TPKTTracerP2P::OnFrame(Connection* c, const unsigned char* data, unsigned length) {
  if (receiver_) receiver_->OnFrame(c->peer, data, length);
}

int TPKTTracerP2P::Send(const INet4::Addr& peer, const void* data, unsigned length) {
  List::iterator it = FindConnection(peer);
  if (it == connections_.end()) return -EFAULT;
  return SendTo(*it, data, length);
}

int TPKTTracerP2P::Close(const INet4::Addr& peer) {
  List::iterator it = FindConnection(peer);
  if (it == connections_.end()) return -EFAULT;
  CloseConnection(*it);
  return 0;
}

bool TPKTTracerP2P::IsConnected(const INet4::Addr& peer) { return FindConnection(peer) != connections_.end(); }
