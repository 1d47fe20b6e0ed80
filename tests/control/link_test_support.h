#pragma once
// Helpers for the control-link tests: the real loop driven pass by pass,
// plain TCP peers on the loopback, and capture of the daemon's streams.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/multiplexer.h"

namespace linktest {

// The daemon catches SIGPIPE; a test program must not die of a write to a
// closed peer either.
inline const bool sigpipe_ignored = (::signal(SIGPIPE, SIG_IGN), true);

// A loopback port nobody listens on right now.
inline int freePort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// Runs loop passes (each waiting at most 10 ms) until cond holds or the
// deadline passes; true when it holds.
inline bool pump(const std::function<bool()>& cond, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    multiplexer.run_once(10);
  }
  return true;
}

// A few passes, for what must NOT happen.
inline void settle(int passes = 5) {
  for (int i = 0; i < passes; ++i) multiplexer.run_once(5);
}

// The text written to a standard stream while the object lives.
class Capture {
 public:
  explicit Capture(std::ostream& s) : stream_(s), old_(s.rdbuf(text_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::string str() const { return text_.str(); }
  void clear() { text_.str(""); }

 private:
  std::ostream& stream_;
  std::ostringstream text_;
  std::streambuf* old_;
};

inline std::size_t count(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) ++n;
  return n;
}

// A plain TCP peer on the loopback, non-blocking, read only through the
// loop helpers (the code under test runs in the same thread).
class Peer {
 public:
  Peer() = default;
  explicit Peer(int port) { connect(port); }
  ~Peer() { close(); }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool connect(int port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
    const int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    return true;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }
  int localPort() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

  bool send(const std::vector<unsigned char>& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads what has arrived; false once the daemon's side has closed.
  bool poll() {
    unsigned char buf[70000];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        in_.insert(in_.end(), buf, buf + n);
        continue;
      }
      if (n == 0) closed_ = true;
      if (n < 0 && errno != EAGAIN) closed_ = true;
      return !closed_;
    }
  }
  // Pumps the loop until n octets have arrived (or the peer closed).
  bool await(std::size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    return pump([&] { return !poll() || in_.size() >= n; }, deadline) && in_.size() >= n;
  }
  bool awaitClose(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    return pump([&] { return !poll(); }, deadline);
  }
  // Takes the first n octets received.
  std::vector<unsigned char> take(std::size_t n) {
    std::vector<unsigned char> out(in_.begin(), in_.begin() + static_cast<long>(std::min(n, in_.size())));
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(out.size()));
    return out;
  }
  // One whole TPKT frame's payload; empty optional-like flag when none.
  bool frame(std::vector<unsigned char>& payload, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    if (!await(4, deadline)) return false;
    const std::size_t len = std::size_t(in_[2]) << 8 | in_[3];
    if (!await(len, deadline)) return false;
    std::vector<unsigned char> f = take(len);
    payload.assign(f.begin() + 4, f.end());
    return true;
  }
  const std::vector<unsigned char>& pending() const { return in_; }
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  std::vector<unsigned char> in_;
  bool closed_ = false;
};

// A TPKT frame around a payload.
inline std::vector<unsigned char> tpkt(const std::vector<unsigned char>& payload) {
  std::vector<unsigned char> f = {0x03, 0x00, static_cast<unsigned char>((payload.size() + 4) >> 8),
                                  static_cast<unsigned char>(payload.size() + 4)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

}  // namespace linktest
