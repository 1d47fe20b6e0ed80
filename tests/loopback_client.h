#pragma once
// A TCP client on the loopback that reads TPKT frames, for the tests and the
// benchmarks, with what it stands on: a free port, a connection, a frame.
//
// A client waits for input in one of two ways: by polling its socket (the
// server is another process), or by running a step of the test's own (a
// pass of the event loop, when the server runs in the test's thread).
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/deadline.h"
#include "tests/machine_lock.h"

namespace testkit {

using Bytes = std::vector<unsigned char>;

inline sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  return a;
}

// A port for a server of this test, free now and given to no other test on
// the machine while this process lives. Between the choice and the
// server's bind, the port must not be taken: tests of every build and
// worktree run side by side, and a port the kernel picked for one (bound
// to 0) it may pick again for another, or give a client as its own end of
// a connection. So the port is drawn below the kernel's range for those
// (32768 up), and reserved by a lock on a file named after it in a
// folder that the tests of every user share (tests/machine_lock.h); the
// lock goes with the process.
inline int freePort() {
  static std::mt19937 draw(std::random_device{}());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int port = 20000 + static_cast<int>(draw() % 12000);
    MachineLock lock("korvend-ports/" + std::to_string(port), false);
    if (lock.busy()) continue;
    if (!lock.held()) {
      // A port no other test is kept from would make this one fail, now
      // and then, for another's: fail at once, saying why, instead.
      std::fprintf(stderr, "freePort: %s\n", lock.why().c_str());
      std::fflush(stderr);
      std::_Exit(1);
    }
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);  // as the daemon binds it
    const bool free = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (free) {
      lock.keep();
      return port;
    }
  }
  // Every port of the range taken: one the kernel picks.
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = loopback(0);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// A blocking socket connected to the loopback port, with no delay (each
// write leaves as its own segment), or -1.
inline int connectTo(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in a = loopback(port);
  if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    if (s >= 0) ::close(s);
    return -1;
  }
  const int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

// A TPKT frame around a payload.
inline Bytes tpkt(const Bytes& payload) {
  Bytes f = {0x03, 0x00, static_cast<unsigned char>((payload.size() + 4) >> 8),
             static_cast<unsigned char>(payload.size() + 4)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

inline std::size_t count(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++n;
  return n;
}

class Client {
 public:
  // Spends a while waiting for input on fd, at most ms.
  using Wait = std::function<void(int fd, int ms)>;

  static void pollSocket(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, ms);
  }

  explicit Client(Wait wait = pollSocket) : wait_(std::move(wait)) {}
  ~Client() { close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connect(int port) {
    close();
    in_.clear();
    closed_ = false;
    fd_ = connectTo(port);
    return fd_ >= 0;
  }
  // Takes over a connected socket (one accepted from the code under test).
  void adopt(int fd) {
    close();
    in_.clear();
    closed_ = false;
    fd_ = fd;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int localPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

  bool write(const Bytes& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Takes in what has arrived, without waiting; false once the server's
  // side has closed (end of stream or reset).
  bool poll() {
    unsigned char buf[70000];
    while (!closed_ && fd_ >= 0) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        in_.insert(in_.end(), buf, buf + n);
        continue;
      }
      if (n == 0 || errno != EAGAIN) closed_ = true;
      break;
    }
    return !closed_;
  }
  // The payload of the next whole frame; false when none came within the
  // deadline, the server closed, or the octets are no TPKT frame.
  bool frame(Bytes& payload, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    return frame(payload, std::chrono::steady_clock::now() + deadline);
  }
  // True once the server's side has closed; what came before is kept.
  bool awaitClose(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (more(end)) {
    }
    return closed_;
  }
  // What has arrived and was not taken as a frame.
  const Bytes& pending() const { return in_; }

 protected:
  bool frame(Bytes& payload, std::chrono::steady_clock::time_point end) {
    for (;;) {
      if (in_.size() >= 4) {
        const std::size_t len = std::size_t(in_[2]) << 8 | in_[3];
        if (in_[0] != 0x03 || in_[1] != 0x00 || len < 4) return false;
        if (in_.size() >= len) {
          payload.assign(in_.begin() + 4, in_.begin() + static_cast<long>(len));
          in_.erase(in_.begin(), in_.begin() + static_cast<long>(len));
          return true;
        }
      }
      if (!more(end)) return false;
    }
  }

 private:
  // Waits until more octets have arrived; false on the deadline or once
  // the server has closed.
  bool more(std::chrono::steady_clock::time_point end) {
    for (;;) {
      const std::size_t before = in_.size();
      const bool open = poll();
      if (in_.size() > before) return true;
      if (!open || fd_ < 0) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      wait_(fd_, static_cast<int>(std::min<long long>(left.count(), 1000)));
    }
  }

  Wait wait_;
  int fd_ = -1;
  Bytes in_;
  bool closed_ = false;
};

}  // namespace testkit
