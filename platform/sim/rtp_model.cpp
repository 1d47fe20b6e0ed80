#include "platform/sim/rtp_model.h"

#include <arpa/inet.h>
#include <errno.h>
#include <poll.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/rtp_ext_records.h"
#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

std::string address(std::uint32_t networkOrder, unsigned port) {
  in_addr a;
  a.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &a, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port);
}

std::string describe(const rtp_connection_params& p) {
  return "remote " + address(p.remote_addr, p.remote_port) + " local " + address(p.local_addr, p.local_port) +
         " rx_pt " + std::to_string(p.rx_pt) + " tx_pt " + std::to_string(p.tx_pt) + " pf " +
         std::to_string(p.packet_factor) + " vad " + std::to_string(p.vad) + " crate " + std::to_string(p.crate) +
         " ssrc " + words::hex(p.ssrc, 8) + " ttl " + std::to_string(p.ttl) + " tos " + std::to_string(p.tos);
}

class RtpDevice : public Device {
 public:
  RtpModel::Session session;

  void fail() { hang_up(); }

  // Whether the daemon has closed every descriptor of the session. A
  // driver releases a session when its last descriptor closes, before the
  // close returns; the board hears of a close only on a later pass, so a
  // session asked about is released here first.
  bool released() {
    if (hung_up()) return true;
    pollfd p{board_fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLHUP)) return false;
    hang_up();
    return true;
  }

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    switch (code) {
      case rtpdrv::begin_session: {
        if (size != sizeof session.params) return refuse(EFAULT);
        if (session.begun) return refuse(EBUSY);
        std::memcpy(&session.params, rec, sizeof session.params);
        session.begun = true;
        session.stopped = false;
        annotate("begin " + describe(session.params));
        return 0;
      }
      case rtpdrv::add_channel: {
        rtp_channel_info info;
        if (size != sizeof info) return refuse(EFAULT);
        std::memcpy(&info, rec, sizeof info);
        if (!session.begun) return refuse(EINVAL);
        if (session.channel >= 0) return refuse(EBUSY);
        const int channel = info.tdm == -1 ? freeChannel() : info.tdm;
        if (channel < 0) return refuse(ENOSPC);
        if (channel < RtpModel::first_channel || channel >= RtpModel::first_channel + RtpModel::channel_count)
          return refuse(EINVAL);
        if (RtpModel::holder(*board(), channel)) return refuse(EBUSY);
        session.channel = channel;
        info.tdm = channel;
        std::memcpy(rec, &info, sizeof info);
        annotate("channel " + std::to_string(channel));
        return 0;
      }
      case rtpdrv::pd_enable: {
        rtp_pd_params pd;
        if (size != sizeof pd) return refuse(EFAULT);
        std::memcpy(&pd, rec, sizeof pd);
        if (!session.begun) return refuse(EINVAL);
        if (pd.type != rtpdrv::event_pd) return refuse(EINVAL);
        session.pd = true;
        session.pdTimeout = pd.timeout;
        annotate("pd on timeout " + std::to_string(pd.timeout));
        return 0;
      }
      case rtpdrv::pd_reset: {
        std::uint32_t word;
        if (size != sizeof word) return refuse(EFAULT);
        std::memcpy(&word, rec, sizeof word);
        if (word != 1) return refuse(EINVAL);
        session.pd = false;
        annotate("pd off");
        return 0;
      }
      case rtp_ext::RTP_ATTACH_SESSION: {
        // The radio extension of another RTP session {fd, pid}: its
        // process's descriptors are not the board's to check.
        rtp_attach_session_params a;
        if (size != sizeof a) return refuse(EFAULT);
        if (!session.begun) return refuse(EINVAL);
        std::memcpy(&a, rec, sizeof a);
        annotate("attach fd " + std::to_string(a.fd_rtp) + " pid " + std::to_string(a.pid_rtp));
        return 0;
      }
      case rtpdrv::input_start:
      case rtpdrv::input_stop:
      case rtpdrv::stop_session:
      case rtpdrv::end_session:
      case rtpdrv::remove_channel:
        return refuse(EINVAL);  // these take no record
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

  int ioctl_val(unsigned long code, unsigned long value) override {
    switch (code) {
      case rtpdrv::input_start:
      case rtpdrv::input_stop:
        if (session.channel < 0 || session.stopped) return refuse(EINVAL);
        session.input = code == rtpdrv::input_start;
        annotate(session.input ? "input on" : "input off");
        return 0;
      case rtpdrv::stop_session:
        session.stopped = true;
        session.input = false;
        annotate("stop");
        return 0;
      case rtpdrv::end_session:
        session.begun = false;
        annotate("end");
        return 0;
      case rtpdrv::remove_channel:
        annotate(session.channel < 0 ? std::string("no channel")
                                     : "channel " + std::to_string(session.channel) + " free");
        session.channel = -1;
        return 0;
      case rtpdrv::begin_session:
      case rtpdrv::add_channel:
      case rtpdrv::pd_enable:
      case rtpdrv::pd_reset:
        (void)value;
        return refuse(EFAULT);  // these take a record
      default:
        return Device::ioctl_val(code, value);
    }
  }

 private:
  int freeChannel() const {
    for (int c = RtpModel::first_channel; c < RtpModel::first_channel + RtpModel::channel_count; ++c)
      if (!RtpModel::holder(*board(), c)) return c;
    return -1;
  }
};

// Opens sessions; sessions whose descriptors have all been closed are
// released first, so a restart's new session finds the channel free.
class RtpSessions : public DeviceModel {
 public:
  explicit RtpSessions(Board& board) : board_(board) {}
  std::unique_ptr<Device> open(const std::string&, int) override {
    for (Device* d : board_.devices(sysroot::rtp)) static_cast<RtpDevice*>(d)->released();
    return std::make_unique<RtpDevice>();
  }

 private:
  Board& board_;
};

const char kUsage[] =
    "rtp: one line per session (its channel, record, input stream, packet detection); rtp CH pd VALUE TIMEOUT: a "
    "packet-detection event on the session of channel CH; rtp CH event TYPE [WORD...]: an event record of any "
    "type (words after the type, 0 for the rest); rtp CH raw HEX...: one record of those octets; rtp CH hangup: "
    "the session fails like a broken driver";

std::string sessionLine(const RtpModel::Session& s) {
  std::string line = s.channel >= 0 ? std::to_string(s.channel) + ":" : std::string("-:");
  if (s.begun) line += " " + describe(s.params);
  line += s.begun ? "" : " not begun";
  line += s.input ? " input on" : " input off";
  line += s.pd ? " pd " + std::to_string(s.pdTimeout) : std::string(" pd off");
  if (s.stopped) line += " stopped";
  return line;
}

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  if (a.empty()) {
    for (Device* d : board.devices(sysroot::rtp))
      if (!static_cast<RtpDevice*>(d)->released()) r.line(sessionLine(static_cast<RtpDevice*>(d)->session));
    return;
  }
  std::int32_t channel;
  if (a.size() < 2 || !words::to_i32(a[0], channel)) return r.fail(std::string("usage: ") + kUsage);
  Device* device = RtpModel::holder(board, channel);
  if (!device) return r.fail("no session on channel " + a[0]);
  std::vector<std::uint8_t> bytes;
  if (a[1] == "raw") {
    if (!words::to_bytes(a, 2, bytes)) return r.fail("usage: rtp CH raw HEX...");
  } else if ((a[1] == "pd" && a.size() == 4) || (a[1] == "event" && a.size() >= 3 && a.size() <= 11)) {
    rtp_event ev{};
    std::uint32_t w[9] = {rtpdrv::event_pd};
    const std::size_t first = a[1] == "pd" ? 1 : 0;
    for (std::size_t i = 2; i < a.size(); ++i) {
      std::int32_t v;
      if (!words::to_i32(a[i], v)) return r.fail("bad word '" + a[i] + "'");
      w[first + i - 2] = static_cast<std::uint32_t>(v);
    }
    ev.type = w[0];
    ev.value = static_cast<std::int32_t>(w[1]);
    ev.timeout = static_cast<std::int32_t>(w[2]);
    for (int i = 0; i < 6; ++i) ev.reserved[i] = w[3 + i];
    bytes.assign(reinterpret_cast<const std::uint8_t*>(&ev), reinterpret_cast<const std::uint8_t*>(&ev) + sizeof ev);
  } else if (a[1] == "hangup" && a.size() == 2) {
    return static_cast<RtpDevice*>(device)->fail();
  } else {
    return r.fail(std::string("usage: ") + kUsage);
  }
  if (!device->send(bytes.data(), bytes.size())) r.fail("the session's queue is full");
}

}  // namespace

RtpModel::Session* RtpModel::session(Device* device) {
  auto* rtp = dynamic_cast<RtpDevice*>(device);
  return rtp ? &rtp->session : nullptr;
}

Device* RtpModel::holder(Board& board, int channel) {
  for (Device* d : board.devices(sysroot::rtp)) {
    auto* rtp = static_cast<RtpDevice*>(d);
    if (rtp->session.channel == channel && !rtp->released()) return d;
  }
  return nullptr;
}

void RtpModel::install(Board& board) {
  board.add_model(sysroot::rtp, std::make_unique<RtpSessions>(board));
  board.add_command("rtp", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
