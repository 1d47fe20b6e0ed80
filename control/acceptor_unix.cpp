#include "control/acceptor_unix.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>

#include "control/unix_address.h"

namespace Control {

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(const std::string& path)
    : ServiceUnix(true), path_(path), listener_(this, "AcceptorUnix::OnSocketEvent", "domain socket", true) {}

AcceptorUnix::~AcceptorUnix() = default;

bool AcceptorUnix::ImplActivate() {
  if (!listener_.Open(AF_UNIX, 0)) return false;
  const sockaddr_un a = UnixAddress(path_);
  listener_.Start(reinterpret_cast<const sockaddr*>(&a), sizeof a, path_);
  return true;
}

void AcceptorUnix::OnListenFailure() { Deactivate(); }

void AcceptorUnix::OnAccept(Fd conn, const sockaddr_storage& sa, socklen_t length) {
  // An unbound peer has no name (the kernel gives only the family); a name
  // that fills sun_path has no terminating NUL.
  const sockaddr_un& un = reinterpret_cast<const sockaddr_un&>(sa);
  const std::size_t room = length > offsetof(sockaddr_un, sun_path) ? length - offsetof(sockaddr_un, sun_path) : 0;
  const std::string peer(un.sun_path, ::strnlen(un.sun_path, std::min(room, sizeof un.sun_path)));
  if (state() != State::Connecting) {
    if (log()) std::cerr << "refuse connection from " << peer << std::endl;
    return;
  }
  if (!conn.NonBlock()) {
    if (log()) std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
    return;
  }
  if (log()) std::cout << "new connection from " << peer << std::endl;
  Connected(conn, peer);
}

bool AcceptorUnix::Accepting() const { return state() != State::Deactivating; }

void AcceptorUnix::ImplDeactivate() { listener_.Close(); }

void AcceptorUnix::ImplOnDisconnect() {}

}  // namespace Control
