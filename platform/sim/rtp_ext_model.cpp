#include "platform/sim/rtp_ext_model.h"

#include <arpa/inet.h>
#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/sim/command_words.h"
#include "platform/sim/model_commands.h"
#include "platform/sim/rtp_model.h"
#include "platform/sysroot.h"
#include "runtime/mux_clock.h"

namespace sim {

namespace {

using Session = RtpExtModel::Session;

std::string dotted(std::uint32_t networkOrder) {
  char text[INET_ADDRSTRLEN] = "";
  in_addr a;
  a.s_addr = networkOrder;
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

void put16(RtpExtModel::Bytes& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}
void put32(RtpExtModel::Bytes& out, std::uint32_t v) {
  put16(out, v >> 16);
  put16(out, v & 0xFFFF);
}

// A written payload as the header extension of an RTP packet in a UDP
// datagram on Ethernet, the way it would travel beside the media.
RtpExtModel::Bytes rtpPacket(Session& s, const RtpExtModel::Bytes& payload) {
  constexpr unsigned port = 5004;
  RtpExtModel::Bytes rtp;
  const std::uint16_t seq = ++s.sequence;
  rtp.push_back(0x90);  // version 2, header extension present
  rtp.push_back(8);
  put16(rtp, seq);
  put32(rtp, seq * 160u);
  put32(rtp, static_cast<std::uint32_t>(s.number));
  const std::size_t words = (payload.size() + 3) / 4;
  put16(rtp, s.init.etype);
  put16(rtp, static_cast<unsigned>(words));
  rtp.insert(rtp.end(), payload.begin(), payload.end());
  rtp.resize(rtp.size() + words * 4 - payload.size(), 0);

  RtpExtModel::Bytes ip;
  put16(ip, 0x4500);
  put16(ip, static_cast<unsigned>(20 + 8 + rtp.size()));
  put16(ip, seq);
  put16(ip, 0);
  put16(ip, 0x4011);  // TTL 64, UDP
  put16(ip, 0);       // checksum, below
  put32(ip, 0x0A000001);
  put32(ip, 0x0A000002);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ip.size(); i += 2) sum += (ip[i] << 8) | ip[i + 1];
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<std::uint8_t>(~sum >> 8);
  ip[11] = static_cast<std::uint8_t>(~sum);
  put16(ip, port);
  put16(ip, port);
  put16(ip, static_cast<unsigned>(8 + rtp.size()));
  put16(ip, 0);
  ip.insert(ip.end(), rtp.begin(), rtp.end());

  RtpExtModel::Bytes frame(6, 0x02);
  frame.resize(12, 0x04);
  put16(frame, 0x0800);
  frame.insert(frame.end(), ip.begin(), ip.end());
  return frame;
}

class RtpExtDevice : public Device {
 public:
  RtpExtDevice() {
    RtpExtModel::State& st = RtpExtModel::state();
    number_ = st.next++;
    Session& s = st.sessions[number_];
    s.number = number_;
    s.openedAt = Mux::milliseconds();
  }

  Session& session() { return RtpExtModel::state().sessions[number_]; }

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    Session& s = session();
    switch (code) {
      case rtp_ext::INIT_SESSION:
        if (size != sizeof s.init) return refuse(EINVAL);
        if (s.initialised) return refuse(EBUSY);
        std::memcpy(&s.init, rec, sizeof s.init);
        s.initialised = true;
        annotate("init " + std::to_string(s.init.etype));
        return 0;
      case rtp_ext::ATTACH_SESSION:
        if (size != sizeof s.attach || !s.initialised) return refuse(EINVAL);
        if (s.attached) return refuse(EBUSY);
        return attach(*static_cast<const rtp_ext_attach_session_params*>(rec));
      case rtp_ext::PACKET_INFO:
        if (size != sizeof(rtp_ext_packet_info) || !s.initialised) return refuse(EINVAL);
        return info(*static_cast<rtp_ext_packet_info*>(rec));
      case rtp_ext::SET_FILTER: {
        if (size != sizeof(rtp_ext_filter) || !s.initialised) return refuse(EINVAL);
        const auto* f = static_cast<const rtp_ext_filter*>(rec);
        s.filterOn = true;
        s.filterAddr = f->filter_addr;
        annotate("filter " + dotted(f->filter_addr));
        return 0;
      }
      case rtp_ext::DETACH_SESSION:
      case rtp_ext::RESET_FILTER:
        return ioctl_val(code, 0);  // the record passed means nothing to the driver
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

  int ioctl_val(unsigned long code, unsigned long value) override {
    Session& s = session();
    switch (code) {
      case rtp_ext::DETACH_SESSION:
        if (!s.attached) return refuse(EINVAL);
        s.attached = false;
        annotate("detach");
        return 0;
      case rtp_ext::RESET_FILTER:
        if (!s.initialised) return refuse(EINVAL);
        s.filterOn = false;
        s.filterAddr = 0;
        annotate("filter off");
        return 0;
      default:
        return Device::ioctl_val(code, value);
    }
  }

  void on_write(const std::uint8_t* data, std::size_t len) override {
    Session& s = session();
    RtpExtModel::Written w{Mux::milliseconds(), RtpExtModel::Bytes(data, data + len)};
    if (RtpExtModel::state().tap) {
      const RtpExtModel::Bytes frame = rtpPacket(s, w.bytes);
      RtpExtModel::state().tap->add(frame.data(), frame.size(), PcapTap::tx);
    }
    s.written.push_back(std::move(w));
    if (s.written.size() > RtpExtModel::written_kept) s.written.pop_front();
    ++s.writtenTotal;
  }

  void on_close() override {
    Session& s = session();
    s.open = false;
    s.queue.clear();
    s.delivered = false;
    RtpExtModel::state().closing(number_);
  }

  // Puts the next queued payload in the daemon's socket, unless one waits
  // there already.
  void deliver() {
    Session& s = session();
    if (s.delivered || s.queue.empty()) return;
    s.delivered = send(s.queue.front().bytes.data(), s.queue.front().bytes.size());
  }

 private:
  int attach(const rtp_ext_attach_session_params& a) {
    if (a.pid_rtp != rtp_ext::caller_pid && a.pid_rtp != ::getpid()) return refuse(ESRCH);
    const RtpModel::Session* rtp = RtpModel::session(board()->device_of(a.fd_rtp));
    if (!rtp) return refuse(EBADF);
    if (!rtp->begun) return refuse(EINVAL);
    Session& s = session();
    s.attach = a;
    s.attached = true;
    annotate("attach fd " + std::to_string(a.fd_rtp) + " pid " + std::to_string(a.pid_rtp) + " channel " +
             std::to_string(rtp->channel));
    return 0;
  }

  int info(rtp_ext_packet_info& out) {
    Session& s = session();
    if (s.delivered) {
      // Still in the daemon's socket: it is the next one. Gone: it was read.
      std::uint8_t peek;
      if (::recv(request_fd(), &peek, sizeof peek, MSG_PEEK | MSG_DONTWAIT) <= 0) {
        s.queue.pop_front();
        s.delivered = false;
        ++s.read;
      }
    }
    deliver();
    if (!s.delivered) {
      annotate("none");
      return 0;
    }
    const RtpExtModel::Payload& p = s.queue.front();
    out.ssrc = p.ssrc;
    out.addr = p.addr;
    out.reserved = 0;
    annotate("next from " + dotted(p.addr) + " ssrc " + words::hex(p.ssrc) + ", " + std::to_string(p.bytes.size()) +
             " bytes");
    return 1;
  }

  int number_;
};

class RtpExtDevices : public DeviceModel {
 public:
  std::unique_ptr<Device> open(const std::string&, int) override { return std::make_unique<RtpExtDevice>(); }
};

const char kUsage[] =
    "rtp-ext: one line per extension session | rtp-ext inject N|last ADDR SSRC HEX... [, HEX...]: session N (or"
    " the newest open one) receives payloads, all at once, from the session at ADDR with SSRC (dropped while"
    " a filter for another address is on) | rtp-ext written"
    " N|last [clear]: what the daemon wrote on it, one payload a line with its loop time | rtp-ext pcap FILE|off:"
    " every payload written from now on, as the header extension of an RTP packet (UDP port 5004) | rtp-ext reset";

std::string describe(const Session& s) {
  std::string text = "session " + std::to_string(s.number) + (s.open ? " open" : " closed") +
                     " at=" + std::to_string(s.openedAt);
  text += s.initialised ? " init " + std::to_string(s.init.etype) : std::string(" init none");
  text += s.attached ? " attach fd=" + std::to_string(s.attach.fd_rtp) + " pid=" + std::to_string(s.attach.pid_rtp)
                     : std::string(" attach none");
  text += s.filterOn ? " filter " + dotted(s.filterAddr) : std::string(" filter none");
  text += " queued=" + std::to_string(s.queue.size()) + " read=" + std::to_string(s.read) +
          " written=" + std::to_string(s.writtenTotal) + " dropped=" + std::to_string(s.dropped);
  return text;
}

RtpExtDevice* deviceOf(Board& board, int number) {
  for (Device* d : board.devices(sysroot::rtp_ext)) {
    auto* e = static_cast<RtpExtDevice*>(d);
    if (e->session().number == number) return e;
  }
  return nullptr;
}

// The session a command names: a number, or "last".
Session* named(const std::string& word, Board::Reply& r) {
  RtpExtModel::State& st = RtpExtModel::state();
  if (word == "last") {
    Session* s = st.last();
    if (!s) r.fail("no open session");
    return s;
  }
  std::uint32_t n;
  auto it = words::to_u32(word, n) ? st.sessions.find(static_cast<int>(n)) : st.sessions.end();
  if (it == st.sessions.end()) {
    r.fail("no session '" + word + "'");
    return nullptr;
  }
  return &it->second;
}

// The payloads of an injection: octets, several of them apart by ",".
bool payloads(const Board::Args& a, std::size_t first, std::vector<RtpExtModel::Bytes>& out) {
  for (std::size_t i = first; i <= a.size(); ++i) {
    if (i < a.size() && a[i] != ",") continue;
    RtpExtModel::Bytes bytes;
    const Board::Args words(a.begin() + static_cast<long>(first), a.begin() + static_cast<long>(i));
    if (!words::to_bytes(words, 0, bytes) || bytes.empty() || bytes.size() > rtp_ext::max_payload) return false;
    out.push_back(std::move(bytes));
    first = i + 1;
  }
  return true;
}

void inject(Board& board, const Board::Args& a, Board::Reply& r) {
  Session* s = named(a[1], r);
  if (!s) return;
  in_addr addr;
  if (::inet_pton(AF_INET, a[2].c_str(), &addr) != 1) return r.fail("bad address '" + a[2] + "'");
  std::uint32_t ssrc;
  if (!words::to_u32(a[3], ssrc)) return r.fail("bad SSRC '" + a[3] + "'");
  std::vector<RtpExtModel::Bytes> all;
  if (!payloads(a, 4, all)) return r.fail("a payload is 1 to 1024 octets (several apart by ',')");
  RtpExtDevice* d = s->open ? deviceOf(board, s->number) : nullptr;
  if (!d) return r.fail("session " + std::to_string(s->number) + " is closed");
  for (auto& bytes : all) {
    if (s->filterOn && addr.s_addr != s->filterAddr)
      ++s->dropped;
    else
      s->queue.push_back(RtpExtModel::Payload{addr.s_addr, ssrc, std::move(bytes)});
  }
  d->deliver();
}

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  RtpExtModel::State& st = RtpExtModel::state();
  if (a.empty()) {
    for (const auto& s : st.sessions) r.line(describe(s.second));
    return;
  }
  if (a[0] == "inject" && a.size() >= 5) return inject(board, a, r);
  if (a[0] == "written" && (a.size() == 2 || (a.size() == 3 && a[2] == "clear"))) {
    Session* s = named(a[1], r);
    if (!s) return;
    if (a.size() == 3) {
      s->written.clear();
      return;
    }
    for (const auto& w : s->written) r.line("at=" + std::to_string(w.at) + " " + words::hex_octets(w.bytes));
    return;
  }
  if (a[0] == "pcap" && a.size() == 2) {
    if (a[1] == "off") {
      st.tap.reset();
      return;
    }
    const std::string path = under_root(a[1]);
    auto tap = std::make_unique<PcapTap>();
    if (!tap->open(path, 1 /* Ethernet */, PcapTap::tx))
      return r.fail("cannot write " + path + ": " + ::strerror(errno));
    st.tap = std::move(tap);
    return;
  }
  if (a[0] == "reset" && a.size() == 1) return st.reset();
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

void RtpExtModel::State::reset() {
  // Sessions still open keep their entries: their devices refer to them.
  for (auto it = sessions.begin(); it != sessions.end();)
    it = it->second.open ? std::next(it) : sessions.erase(it);
  closed.clear();
  if (sessions.empty()) next = 1;
  tap.reset();
}

void RtpExtModel::State::closing(int n) {
  closed.push_back(n);
  while (closed.size() > closed_kept) {
    sessions.erase(closed.front());
    closed.pop_front();
  }
}

RtpExtModel::Session* RtpExtModel::State::last() {
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it)
    if (it->second.open) return &it->second;
  return nullptr;
}

RtpExtModel::State& RtpExtModel::state() {
  static State s;
  return s;
}

void RtpExtModel::install(Board& board) {
  board.add_model(sysroot::rtp_ext, std::make_unique<RtpExtDevices>());
  board.add_command("rtp-ext", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
