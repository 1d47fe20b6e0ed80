#pragma once
// A controller that speaks octets: it writes the bytes it is given and
// reads TPKT frames back, sharing nothing with the daemon's coder, so a
// fault that the encoder and the decoder share cannot hide. Every wait is
// a poll with a deadline.
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace e2e {

using Bytes = std::vector<unsigned char>;

inline Bytes hex(const std::string& text) {
  Bytes out;
  unsigned v = 0;
  int digits = 0;
  for (char c : text) {
    int d = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                     : -1;
    if (d < 0) continue;
    v = v << 4 | static_cast<unsigned>(d);
    if (++digits == 2) {
      out.push_back(static_cast<unsigned char>(v));
      v = 0;
      digits = 0;
    }
  }
  return out;
}

inline std::string hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", b);
    out += buf;
  }
  return out;
}

inline Bytes tpktFrame(const Bytes& payload) {
  Bytes f = {0x03, 0x00, static_cast<unsigned char>((payload.size() + 4) >> 8),
             static_cast<unsigned char>((payload.size() + 4) & 0xFF)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

// Signals never carry seq; their pdu is alternative 2. Read from the
// aligned-PER preamble by hand: seq and slot presence bits, then (after the
// two octets of slot when present) the two bits of the pdu choice.
inline bool isSignal(const Bytes& payload) {
  if (payload.empty() || (payload[0] & 0x80)) return false;
  if (payload[0] & 0x40) return payload.size() > 3 && (payload[3] >> 6) == 2;
  return ((payload[0] >> 4) & 0x03) == 2;
}

class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connect(int port) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close();
      return false;
    }
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    in_.clear();
    closed_ = false;
    return true;
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
  bool sendPayload(const Bytes& payload) { return write(tpktFrame(payload)); }

  // The payload of the next frame, signals skipped; false when none came
  // within the deadline or the daemon closed the connection.
  bool reply(Bytes& payload, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
      if (!frame(payload, end)) return false;
      if (!isSignal(payload)) return true;
      signals_.push_back(payload);
    }
  }
  // The next reply's payload in hex ("" when none).
  std::string replyHex(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    Bytes p;
    return reply(p, deadline) ? hex(p) : std::string();
  }
  // True once the daemon's side has closed (end of stream or reset).
  bool awaitClose(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!closed_)
      if (!fill(end)) break;
    return closed_;
  }
  const std::vector<Bytes>& signals() const { return signals_; }

 private:
  bool frame(Bytes& payload, std::chrono::steady_clock::time_point end) {
    while (in_.size() < 4 || in_.size() < (std::size_t(in_[2]) << 8 | in_[3]))
      if (!fill(end)) return false;
    const std::size_t len = std::size_t(in_[2]) << 8 | in_[3];
    if (in_[0] != 0x03 || in_[1] != 0x00 || len < 4) return false;  // the daemon never sends such a frame
    payload.assign(in_.begin() + 4, in_.begin() + static_cast<long>(len));
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(len));
    return true;
  }
  // Waits for more octets; false on the deadline or when closed.
  bool fill(std::chrono::steady_clock::time_point end) {
    if (closed_ || fd_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    unsigned char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    in_.insert(in_.end(), buf, buf + n);
    return true;
  }

  int fd_ = -1;
  Bytes in_;
  bool closed_ = false;
  std::vector<Bytes> signals_;
};

}  // namespace e2e
