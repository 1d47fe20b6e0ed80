#include "platform/sim/mcc_model.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/mcc_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/model_commands.h"
#include "platform/sim/tdm.h"
#include "platform/sysroot.h"
#include "runtime/mux_clock.h"

namespace sim {

namespace {

// Line rate of a timeslot: 64 kbit/s, 125 us an octet; each frame carries
// two octets of FCS and a flag besides its own.
constexpr std::uint32_t octet_us = 125;
constexpr std::uint32_t frame_overhead = 3;
constexpr std::int32_t catch_up_us = 2000;

// The daemon's transmit queue and its receive queue (what the board may
// have sent it unread): socket buffers at the kernel's minimum hold a few
// frames, so a full queue shows after a handful of frames, as on a driver.
constexpr int socket_buffer = 2048;
// A transparent channel takes a player's long writes whole and hands its
// reader pieces as large as it asks for, up to stream_piece_max.
constexpr int stream_socket_buffer = 32768;
constexpr std::size_t stream_piece_max = 16384;
constexpr std::size_t stream_piece_default = 1024;

}  // namespace

// ---- one open of the controller ----

MccDevice::~MccDevice() {
  if (number_ >= 0) release();
}

void MccDevice::on_open(int daemon_fd, int board_fd) {
  ::setsockopt(daemon_fd, SOL_SOCKET, SO_SNDBUF, &socket_buffer, sizeof socket_buffer);
  ::setsockopt(board_fd, SOL_SOCKET, SO_SNDBUF, &socket_buffer, sizeof socket_buffer);
}

bool MccDevice::bytes() const { return mode_ == mcc::transparent; }

int MccDevice::ioctl_ptr(unsigned long code, void* rec, std::size_t size) {
  if (code == MCC_RESOURCES) {
    if (size != sizeof(mcc::MccResources)) return refuse(EFAULT);
    // One pool of channels serves every kind.
    const std::int32_t free = Mcc::channel_count - static_cast<std::int32_t>(mcc_.in_use().size());
    const mcc::MccResources r{free, free, free, 0};
    std::memcpy(rec, &r, sizeof r);
    annotate("free " + std::to_string(free));
    return 0;
  }
  if (code != MCC_ALLOCATE) return Device::ioctl_ptr(code, rec, size);
  if (size != sizeof(mcc::MccAllocate)) return refuse(EFAULT);
  mcc::MccAllocate r;
  std::memcpy(&r, rec, sizeof r);
  if (number_ >= 0) return refuse(EBUSY);
  if (r.mode < mcc::hdlc || r.mode > mcc::ss7) return refuse(EINVAL);
  const int n = mcc_.allocate(this);
  if (n < 0) return refuse(ENOSPC);
  number_ = n;
  mode_ = r.mode;
  counters_ = Counters();
  if (bytes()) {
    rxSize_ = r.rx_size < 1 ? stream_piece_default : std::min<std::size_t>(r.rx_size, stream_piece_max);
    ::setsockopt(request_fd(), SOL_SOCKET, SO_SNDBUF, &stream_socket_buffer, sizeof stream_socket_buffer);
    ::setsockopt(board_fd(), SOL_SOCKET, SO_SNDBUF, &stream_socket_buffer, sizeof stream_socket_buffer);
  }
  annotate("allocate mode " + std::to_string(r.mode) + ": channel " + std::to_string(n));
  restart();  // a channel set to stall before it was taken starts stalled
  return 0;
}

int MccDevice::ioctl_val(unsigned long code, unsigned long value) {
  if (code != MCC_TIMESLOT) return Device::ioctl_val(code, value);
  if (number_ < 0) return refuse(EINVAL);
  return number_;
}

void MccDevice::on_write(const std::uint8_t* data, std::size_t len) {
  if (number_ < 0) return;  // no channel yet: the frame goes nowhere
  tx_.assign(data, data + len);
  mcc_.wrote(number_, tx_);
  transmitting_ = true;
  hold_writes(true);  // the next frame waits in the daemon's queue
  // A frame that was waiting when the line came free follows the one before
  // it at once, though the loop (and the millisecond timer) noticed a little
  // late: the line keeps its rate instead of losing the rounding each frame.
  const std::uint32_t now = Mux::microseconds();
  const std::uint32_t start =
      lineUsed_ && static_cast<std::int32_t>(now - lineFree_) < catch_up_us ? lineFree_ : now;
  lineFree_ = start + static_cast<std::uint32_t>(len + (bytes() ? 0 : frame_overhead)) * octet_us;
  lineUsed_ = true;
  const std::int32_t wait = static_cast<std::int32_t>(lineFree_ - now);
  timer_.set(wait > 0 ? static_cast<unsigned>((wait + 999) / 1000) : 0u, &MccDevice::OnLineFree, this);
}

void MccDevice::OnLineFree() {
  Mcc::Settings& s = mcc_.settings(number_);
  if (s.tap) s.tap->add(tx_.data(), tx_.size(), PcapTap::tx);
  ++counters_.sent;
  pending_ = mcc_.receivers(number_);
  if (pending_.empty()) ++counters_.lost;
  retry();
}

void MccDevice::retry() {
  if (!transmitting_) return;
  // Receivers may hand frames on while taking this one and wake other
  // senders; they never call back into this sender while it is here.
  std::vector<int> targets;
  targets.swap(pending_);
  for (int n : targets) {
    MccDevice* d = mcc_.device(n);
    if (!d) continue;  // freed meanwhile
    if (d->has_room())
      d->receive(tx_);
    else
      pending_.push_back(n);
  }
  if (!pending_.empty()) {
    mcc_.wait(this);
    return;
  }
  mcc_.unwait(this);
  transmitting_ = false;
  if (!mcc_.settings(number_).stalled) hold_writes(false);
}

void MccDevice::receive(const Frame& frame) {
  Mcc::Settings& s = mcc_.settings(number_);
  if (s.dropEvery && ++s.dropCount % s.dropEvery == 0) {
    ++counters_.dropped;
    return;
  }
  if (bytes() && frame.size() > rxSize_) {
    for (std::size_t at = 0; at < frame.size(); at += rxSize_)
      rx_.emplace_back(frame.begin() + static_cast<std::ptrdiff_t>(at),
                       frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), at + rxSize_)));
  } else {
    rx_.push_back(frame);
  }
  ++counters_.received;
  if (s.tap) s.tap->add(frame.data(), frame.size(), PcapTap::rx);
  flush();
}

void MccDevice::flush() {
  if (number_ < 0 || mcc_.settings(number_).stalled) return;
  bool freed = false;
  while (!rx_.empty()) {
    if (!send(rx_.front().data(), rx_.front().size())) {
      if (errno == EMSGSIZE) {  // larger than any read could take: a driver would drop it too
        rx_.pop_front();
        ++counters_.dropped;
        continue;
      }
      want_writable(true);
      break;
    }
    rx_.pop_front();
    freed = true;
  }
  if (freed) mcc_.wake();
}

void MccDevice::on_writable() { flush(); }

void MccDevice::restart() {
  if (number_ < 0) return;
  if (mcc_.settings(number_).stalled) {
    hold_writes(true);
    return;
  }
  flush();
  if (!transmitting_) hold_writes(false);
}

void MccDevice::on_close() { release(); }

void MccDevice::release() {
  timer_.reset();
  mcc_.unwait(this);
  if (number_ >= 0) mcc_.release(this);
  number_ = -1;
  rx_.clear();
  pending_.clear();
  transmitting_ = false;
  mcc_.wake();  // senders waiting for this one go on without it
}

// ---- the controller ----

Mcc& Mcc::instance() {
  // Never destroyed: devices still open at exit release their channels here.
  static Mcc& mcc = *new Mcc;
  return mcc;
}

const Mcc::Settings* Mcc::find_settings(int number) const {
  auto it = settings_.find(number);
  return it == settings_.end() ? nullptr : &it->second;
}

int Mcc::allocate(MccDevice* device) {
  for (int n = first_channel; n < first_channel + channel_count; ++n) {
    if (inUse_.count(n)) continue;
    inUse_[n] = device;
    written_.erase(n);
    return n;
  }
  return -1;
}

void Mcc::release(MccDevice* device) {
  auto it = inUse_.find(device->number());
  if (it != inUse_.end() && it->second == device) inUse_.erase(it);
}

void Mcc::wrote(int number, const MccDevice::Frame& data) {
  auto s = settings_.find(number);
  if (s != settings_.end() && s->second.capture && !data.empty()) {
    std::FILE* f = s->second.capture.get();
    std::fwrite(data.data(), 1, data.size(), f);
    std::fflush(f);  // readable while the board runs
  }
  Written& w = written_[number];
  w.writes.push_back(data);
  w.octets += data.size();
  while (w.writes.size() > written_writes || (w.octets > written_octets && w.writes.size() > 1)) {
    w.octets -= w.writes.front().size();
    w.writes.pop_front();
    ++w.dropped;
  }
}

const Mcc::Written* Mcc::written(int number) const {
  auto it = written_.find(number);
  return it == written_.end() ? nullptr : &it->second;
}

MccDevice* Mcc::device(int number) const {
  auto it = inUse_.find(number);
  return it == inUse_.end() ? nullptr : it->second;
}

std::vector<int> Mcc::receivers(int from) const {
  return Tdm::instance().reach(from, [this](int ch) { return inUse_.count(ch) > 0; });
}

void Mcc::wake() {
  if (waking_) {
    wakeAgain_ = true;
    return;
  }
  waking_ = true;
  do {
    wakeAgain_ = false;
    const std::vector<MccDevice*> senders(waiting_.begin(), waiting_.end());
    for (MccDevice* d : senders)
      if (waiting_.count(d)) d->retry();
  } while (wakeAgain_);
  waking_ = false;
}

// ---- model and commands ----

namespace {

class MccModel : public DeviceModel {
 public:
  std::unique_ptr<Device> open(const std::string&, int) override {
    return std::make_unique<MccDevice>(Mcc::instance());
  }
};

bool channelNumber(const std::string& text, int& n) {
  std::uint32_t v;
  if (!words::to_u32(text, v) || v < Mcc::first_channel || v >= Mcc::first_channel + Mcc::channel_count)
    return false;
  n = static_cast<int>(v);
  return true;
}

std::string describe(int n) {
  Mcc& mcc = Mcc::instance();
  std::string text = std::to_string(n);
  if (const MccDevice* d = mcc.device(n)) {
    const MccDevice::Counters& c = d->counters();
    text += " mode " + std::to_string(d->mode()) + " sent " + std::to_string(c.sent) + " lost " +
            std::to_string(c.lost) + " received " + std::to_string(c.received) + " dropped " +
            std::to_string(c.dropped) + " queued " + std::to_string(d->queued());
  } else {
    text += " free";
  }
  if (const Mcc::Settings* s = mcc.find_settings(n)) {
    if (s->stalled) text += " stalled";
    if (s->dropEvery) text += " drop-every " + std::to_string(s->dropEvery);
    if (s->tap && s->tap->active()) {
      static const char* const ways[] = {"", "tx", "rx", "both"};
      text += std::string(" tap ") + (s->tap->linktype() == PcapTap::mtp2 ? "mtp2 " : "lapd ") +
              ways[s->tap->which()] + " " + std::to_string(s->tap->frames()) + " " + s->tap->path();
    }
    if (s->capture) text += " capture " + s->capturePath;
  }
  return text;
}

const char usage[] =
    "usage: mcc | mcc stall|resume|error M | mcc drop M N | mcc tap M FILE [lapd|mtp2] [tx|rx|both] | "
    "mcc tap M off | mcc inject M HEX... | mcc inject M file FILE [N] | mcc written M [clear] | "
    "mcc capture M FILE | mcc capture M off (M a channel 1024..1087)";

void tapCommand(int n, const Board::Args& a, Board::Reply& r) {
  Mcc::Settings& s = Mcc::instance().settings(n);
  if (a.size() == 3 && a[2] == "off") {
    s.tap.reset();
    return;
  }
  std::uint32_t linktype = PcapTap::lapd;
  PcapTap::Direction which = PcapTap::both;
  for (std::size_t i = 3; i < a.size(); ++i) {
    if (a[i] == "lapd")
      linktype = PcapTap::lapd;
    else if (a[i] == "mtp2")
      linktype = PcapTap::mtp2;
    else if (a[i] == "tx")
      which = PcapTap::tx;
    else if (a[i] == "rx")
      which = PcapTap::rx;
    else if (a[i] == "both")
      which = PcapTap::both;
    else
      return r.fail(usage);
  }
  const std::string path = under_root(a[2]);
  auto tap = std::make_unique<PcapTap>();
  if (!tap->open(path, linktype, which)) return r.fail("cannot write " + path + ": " + ::strerror(errno));
  s.tap = std::move(tap);
}

// Octets for channel n as received from the line: the words' bytes, or a
// file's in pieces of N (default: the whole file one frame, or the read
// size of a transparent channel).
void injectCommand(MccDevice* d, const Board::Args& a, Board::Reply& r) {
  if (!d) return r.fail("channel " + a[1] + " is not in use");
  if (a.size() >= 4 && a.size() <= 5 && a[2] == "file") {
    std::uint32_t piece = 0;
    if (a.size() == 5 && (!words::to_u32(a[4], piece) || piece == 0))
      return r.fail("N: octets a piece, 1 or more");
    const std::string path = under_root(a[3]);
    std::ifstream file(path, std::ios::binary);
    if (!file) return r.fail("cannot read " + path);
    const MccDevice::Frame data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (data.empty()) return r.fail(path + " is empty");
    const std::size_t step = piece ? piece : d->bytes() ? d->rx_size() : data.size();
    for (std::size_t at = 0; at < data.size(); at += step)
      d->receive(MccDevice::Frame(data.begin() + static_cast<std::ptrdiff_t>(at),
                                  data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + step))));
    return;
  }
  MccDevice::Frame data;
  if (!words::to_bytes(a, 2, data)) return r.fail(usage);
  d->receive(data);
}

void writtenCommand(int n, const Board::Args& a, Board::Reply& r) {
  Mcc& mcc = Mcc::instance();
  if (a.size() == 3) {
    if (a[2] != "clear") return r.fail(usage);
    mcc.clear_written(n);
    return;
  }
  const Mcc::Written* w = mcc.written(n);
  if (!w) return;
  if (w->dropped) r.line("written: " + std::to_string(w->dropped) + " earlier writes dropped");
  for (const MccDevice::Frame& f : w->writes) r.line(words::hex_octets(f));
}

void captureCommand(int n, const Board::Args& a, Board::Reply& r) {
  Mcc::Settings& s = Mcc::instance().settings(n);
  if (a[2] == "off") {
    s.capture.reset();
    s.capturePath.clear();
    return;
  }
  const std::string path = under_root(a[2]);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return r.fail("cannot write " + path + ": " + ::strerror(errno));
  s.capture.reset(f);
  s.capturePath = path;
}

void mccCommand(const Board::Args& a, Board::Reply& r) {
  Mcc& mcc = Mcc::instance();
  if (a.empty()) {
    std::set<int> shown;
    for (const auto& d : mcc.in_use()) shown.insert(d.first);
    for (int n = Mcc::first_channel; n < Mcc::first_channel + Mcc::channel_count; ++n)
      if (const Mcc::Settings* s = mcc.find_settings(n))
        if (s->stalled || s->dropEvery || s->tap || s->capture) shown.insert(n);
    for (int n : shown) r.line(describe(n));
    return;
  }
  int n;
  if (a.size() < 2 || !channelNumber(a[1], n)) return r.fail(usage);
  const std::string& op = a[0];
  MccDevice* d = mcc.device(n);
  if ((op == "stall" || op == "resume") && a.size() == 2) {
    mcc.settings(n).stalled = op == "stall";
    if (d) d->restart();
  } else if (op == "drop" && a.size() == 3) {
    std::uint32_t every;
    if (!words::to_u32(a[2], every)) return r.fail("N: drop every N-th frame received, 0 for none");
    Mcc::Settings& s = mcc.settings(n);
    s.dropEvery = every;
    s.dropCount = 0;
  } else if (op == "error" && a.size() == 2) {
    if (!d) return r.fail("channel " + a[1] + " is not in use");
    d->fail();
  } else if (op == "tap" && a.size() >= 3 && a.size() <= 5) {
    tapCommand(n, a, r);
  } else if (op == "inject" && a.size() >= 3) {
    injectCommand(d, a, r);
  } else if (op == "written" && a.size() <= 3) {
    writtenCommand(n, a, r);
  } else if (op == "capture" && a.size() == 3) {
    captureCommand(n, a, r);
  } else {
    r.fail(usage);
  }
}

}  // namespace

void install_mcc(Board& board) {
  board.add_model(sysroot::mcc_ctl, std::make_unique<MccModel>());
  board.add_command("mcc",
                    "mcc: the controller channels in use (counters) and those with settings; "
                    "mcc stall|resume M: channel M stops (starts again) taking frames from the daemon and handing "
                    "it frames; mcc drop M N: drop every N-th frame M receives (0: none); mcc error M: M fails "
                    "like a broken driver (the daemon's next read or write errs); mcc tap M FILE [lapd|mtp2] "
                    "[tx|rx|both] | mcc tap M off: write M's frames to a pcap file (relative to the root); "
                    "mcc inject M HEX...: M receives the octets as from the line (one frame, or one run of a "
                    "transparent channel's stream); mcc inject M file FILE [N]: the same with a file's octets, N a "
                    "piece (default: one frame, or a transparent channel's read size); mcc written M [clear]: what "
                    "the daemon wrote on M since it was allocated, a line of hex per frame or write; mcc capture M "
                    "FILE | mcc capture M off: append every octet the daemon writes on M to a file",
                    mccCommand);
}

}  // namespace sim
