#include "runtime/async_connect.h"

#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "runtime/inet4_addr.h"

namespace ASync {

Connect::~Connect() {
  timer_.reset();
  delete handler_;
}

void Connect::Bind(Handler* handler) {
  if (handler_ != handler) delete handler_;
  handler_ = handler;
}

void Connect::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Connect::Start(const std::string& address, unsigned timeout) {
  // A new start drops an attempt still under way, without a call.
  timer_.reset();
  event_.Release();
  sock_.close();

  status_ = Status::connecting;
  sock_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!sock_.valid() || !sock_.NonBlock()) {
    Complete(Status::failed);
    return;
  }
  // An address that does not parse (a host name, say) must not leave
  // 0.0.0.0 behind: the kernel would connect that to a local service.
  INet4::Addr addr;
  if (!addr.Assign(address, nullptr)) {
    Complete(Status::failed);
    return;
  }
  const sockaddr_in& sa = addr.sockaddr();
  if (::connect(sock_.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    Complete(Status::connected);
    return;
  }
  if (errno != EINPROGRESS) {
    Complete(Status::failed);
    return;
  }
  event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  event_.Schedule(sock_, POLLOUT);
  timer_.set(timeout, &Connect::OnTimeOut, this);
}

void Connect::Stop() { Complete(Status::stopped); }

void Connect::OnSocketEvent(int fd, short revents) {
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    Complete(Status::failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
    Complete(Status::failed);
  else
    Complete(Status::connected);
}

void Connect::OnTimeOut() { Complete(Status::failed); }

void Connect::Complete(Status::Type status) {
  if (status_ != Status::connecting) return;
  status_ = status;
  Fd handed(status == Status::connected ? sock_.dup() : -1);
  sock_.close();
  event_.Release();
  event_.UnBind();
  timer_.reset();
  // The handler may destroy this object: nothing may follow the call.
  if (handler_) handler_->Invoke(status, std::move(handed));
}

}  // namespace ASync
