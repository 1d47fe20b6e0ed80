#pragma once
// A UDP socket on the loopback that takes what a daemon sends it (the RTCP
// packets of an RTP slot, say), keeps every datagram with its sender's
// port, and writes them out as a capture that tshark reads.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/loopback_client.h"

namespace testkit {

class UdpPeer {
 public:
  using Datagram = std::vector<unsigned char>;

  // shared: the port may also be bound by a socket that sets SO_REUSEADDR
  // on every address (as an RTP slot's RTCP socket does).
  explicit UdpPeer(bool shared = false) {
    const int on = 1;
    if (shared) ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~UdpPeer() { ::close(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  int port() const { return port_; }
  // The next datagram within ms (0: only one already there); empty when
  // none came. from: its sender's port.
  Datagram next(int ms = 5000, int* from = nullptr) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return {};
    unsigned char buf[2048];
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n <= 0) return {};
    if (from) *from = ntohs(a.sin_port);
    received_.emplace_back(ntohs(a.sin_port), Datagram(buf, buf + n));
    return received_.back().second;
  }

  // What came, as a pcap of raw IPv4 packets from 127.0.0.1 to this port.
  bool writePcap(const std::string& path) const {
    std::vector<unsigned char> file;
    const auto le32 = [&](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) file.push_back(static_cast<unsigned char>(v >> (8 * i)));
    };
    const auto be16 = [](std::vector<unsigned char>& to, unsigned v) {
      to.push_back(static_cast<unsigned char>(v >> 8));
      to.push_back(static_cast<unsigned char>(v));
    };
    le32(0xA1B2C3D4);
    le32(2 | 4 << 16);  // version 2.4
    le32(0);
    le32(0);
    le32(65535);
    le32(101);  // LINKTYPE_RAW
    for (const auto& [from, payload] : received_) {
      const unsigned udp = static_cast<unsigned>(8 + payload.size());
      std::vector<unsigned char> ip = {0x45, 0};
      be16(ip, 20 + udp);
      ip.insert(ip.end(), {0, 0, 0x40, 0, 64, 17, 0, 0, 127, 0, 0, 1, 127, 0, 0, 1});
      std::uint32_t sum = 0;
      for (std::size_t i = 0; i < ip.size(); i += 2) sum += static_cast<std::uint32_t>(ip[i] << 8 | ip[i + 1]);
      while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
      ip[10] = static_cast<unsigned char>(~sum >> 8);
      ip[11] = static_cast<unsigned char>(~sum);
      be16(ip, from);
      be16(ip, static_cast<unsigned>(port_));
      be16(ip, udp);
      be16(ip, 0);  // no checksum
      ip.insert(ip.end(), payload.begin(), payload.end());
      le32(0);
      le32(0);
      le32(static_cast<std::uint32_t>(ip.size()));
      le32(static_cast<std::uint32_t>(ip.size()));
      file.insert(file.end(), ip.begin(), ip.end());
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
  std::vector<std::pair<std::uint16_t, Datagram>> received_;
};

// The SSRC of an RTCP packet (its second word).
inline std::uint32_t rtcpSsrc(const UdpPeer::Datagram& p) {
  return p.size() < 8 ? 0 : static_cast<std::uint32_t>(p[4] << 24 | p[5] << 16 | p[6] << 8 | p[7]);
}

}  // namespace testkit
