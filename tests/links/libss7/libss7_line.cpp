#include "tests/links/libss7/libss7_line.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// libss7's header declares C functions without saying so.
extern "C" {
#include <libss7.h>
}

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "runtime/mux_clock.h"
#include "tests/links/link_harness.h"

// libss7's clock, renamed in its copy of the library: the loop's clock, so
// that its timers and ours run on one test clock.
extern "C" int linktest_ss7_gettimeofday(struct timeval* tv, void*) {
  const std::uint32_t ms = Mux::milliseconds();
  tv->tv_sec = 1000000 + ms / 1000;
  tv->tv_usec = (ms % 1000) * 1000;
  return 0;
}

extern "C" time_t linktest_ss7_time(time_t* t) {
  const time_t now = 1000000 + Mux::milliseconds() / 1000;
  if (t) *t = now;
  return now;
}

// ss7_destroy leaves a link's MTP2 and adjacent point records behind:
// libss7's leak, not ours, kept out of the leak checker's report.
extern "C" const char* __lsan_default_suppressions() { return "leak:mtp2_new\nleak:mtp3_add_adj_sp\n"; }

namespace linktest {

namespace {

bool peer_debug = false;

void peer_message(struct ss7*, char* text) {
  if (peer_debug) std::fputs(text, stdout);
}

// libss7 calls these when it lets go of its calls; no call of its is ours.
void peer_call_null(struct ss7*, struct isup_call*, int) {}
int peer_hangup(struct ss7*, int, unsigned int, int, int) { return SS7_CIC_IDLE; }

// The units of the pair carry 2 FCS octets after the frame.
const unsigned kFcs = 2;

}  // namespace

void Libss7Line::set_peer_debug(bool on) { peer_debug = on; }

Libss7Line::Libss7Line(FrameLog& log) : log_(log), rng_(1) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) == 0) {
    ours_.reset(sv[0]);
    theirs_.reset(sv[1]);
  }
  ss7_set_message(peer_message);
  ss7_set_error(peer_message);
  ss7_set_call_null(peer_call_null);
  ss7_set_hangup(peer_hangup);
}

Libss7Line::~Libss7Line() {
  if (ss7_) ss7_destroy(ss7_);
}

void Libss7Line::start(unsigned our_pc, unsigned peer_pc) {
  ss7_ = ss7_new(SS7_ITU);
  ss7_set_pc(ss7_, peer_pc);
  ss7_set_network_ind(ss7_, SS7_NI_NAT);
  ss7_add_link(ss7_, SS7_TRANSPORT_DAHDIDCHAN, theirs_.get(), 0, our_pc);
  if (peer_debug) ss7_set_debug(ss7_, SS7_DEBUG_MTP2 | SS7_DEBUG_MTP3);
  ss7_start(ss7_);
}

void Libss7Line::set_loss(unsigned per_mille, std::uint32_t seed) {
  loss_ = per_mille;
  rng_.seed(seed);
}

bool Libss7Line::lose() { return loss_ && rng_() % 1000 < loss_; }

bool Libss7Line::hdlc_transmit(Packet& frame) {
  Bytes unit = bytes_of(frame);
  if (unit.size() < 3) return true;
  // What a signalling controller repeats after this unit: an LSSU as it is,
  // a FISU with the sequence fields of a FISU or MSU.
  if (unit[2] == 1 || unit[2] == 2)
    fill_ = unit;
  else
    fill_ = Bytes{unit[0], unit[1], 0};
  pending_.push_back(std::move(unit));
  return true;
}

void Libss7Line::to_peer(const Bytes& unit) {
  if (peer_deaf_ || !ss7_) return;
  if (lose()) {
    ++lost_to_peer;
    return;
  }
  Bytes wire = unit;
  wire.resize(unit.size() + kFcs, 0);
  if (::write(ours_.get(), wire.data(), wire.size()) == ssize_t(wire.size())) ss7_read(ss7_, theirs_.get());
}

void Libss7Line::tick() {
  if (!ss7_) return;
  // Our units of the last millisecond, each logged with its fate; or the
  // line's fill-in, not logged.
  if (!pending_.empty()) {
    std::vector<Bytes> units;
    units.swap(pending_);
    for (const Bytes& u : units) {
      const std::size_t at = log_.add(std::uint64_t(Mux::milliseconds()) * 1000u, "ours", true, u);
      const unsigned lost = lost_to_peer;
      to_peer(u);
      const bool dropped = lost != lost_to_peer || peer_deaf_;
      log_.settle(at, dropped ? FrameLog::Fate::dropped : FrameLog::Fate::delivered, dropped ? Bytes() : u);
    }
  } else if (!fill_.empty()) {
    to_peer(fill_);
  }
  ss7_schedule_run(ss7_);

  ss7_write(ss7_, theirs_.get());
  unsigned char buf[512];
  for (;;) {
    const ssize_t n = ::read(ours_.get(), buf, sizeof buf);
    if (n < 0) break;
    if (n < ssize_t(kFcs) + 3) continue;
    Bytes unit(buf, buf + n - kFcs);
    if (unit == last_delivered_) continue;  // libss7's own fill-in
    const std::size_t at = log_.add(std::uint64_t(Mux::milliseconds()) * 1000u, "libss7", false, unit);
    if (lose()) {
      ++lost_to_us;
      log_.settle(at, FrameLog::Fate::dropped, Bytes());
      continue;
    }
    log_.settle(at, FrameLog::Fate::delivered, unit);
    last_delivered_ = unit;
    if (notify_) {
      Packet p = packet_of(unit);
      notify_->on_hdlc_receive(p);
    }
  }
  events();
}

void Libss7Line::events() {
  while (ss7_event* e = ss7_check_event(ss7_)) {
    switch (e->e) {
      case MTP2_LINK_UP:
        ++mtp2_up;
        break;
      case MTP2_LINK_DOWN:
        ++mtp2_down;
        break;
      case SS7_EVENT_UP:
        ++mtp3_up;
        break;
      case SS7_EVENT_DOWN:
        ++mtp3_down;
        break;
      case ISUP_EVENT_LPA:
        lpa_cics.push_back(e->lpa.cic);
        break;
      default:
        break;
    }
  }
}

}  // namespace linktest
