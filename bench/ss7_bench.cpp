// Cost of one received MSU, including the acknowledgement it causes, in our
// MTP level 2 link and in libss7's (Debian's MTP2/MTP3 stack), measured in
// the same run and in-process: no sockets, so that the figures are those of
// the two links and not of the kernel. Each side takes the MSU as its
// channel hands it over, checks it, passes it up and hands the FISU that
// acknowledges it down. libss7's calls to read and write are renamed in its
// copy of the library (as its clock calls are) and answered here from
// memory. Only the links' work and the delivery upwards are compared: ours
// delivers to an empty protocol family, libss7's MTP3 routes the MSU to its
// ISUP, whose entry the bench replaces with a counter (its own ISUP would
// spend a third of libss7's time on the message). The MSU is an ISUP
// loop-back acknowledgement, the one of those tried that libss7's MTP3 takes
// without formatting a text; the bench fails when libss7 formats any.
// Prints ours as a ratio of libss7's time.
#include <benchmark/benchmark.h>
#include <sys/time.h>
#include <sys/types.h>

extern "C" {
#include <libss7.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "links/ss7/slc.h"
#include "runtime/test_clock.h"

// libss7's renamed clock: stands still while the bench runs, so that none of
// its timers interferes.
static std::uint32_t peer_ms = 0;
extern "C" int linktest_ss7_gettimeofday(struct timeval* tv, void*) {
  tv->tv_sec = 1000000 + peer_ms / 1000;
  tv->tv_usec = (peer_ms % 1000) * 1000;
  return 0;
}
extern "C" time_t linktest_ss7_time(time_t* t) {
  const time_t now = 1000000 + peer_ms / 1000;
  if (t) *t = now;
  return now;
}

// The line between libss7's two ends, in memory: a unit written on one end
// is read on the other, one unit a read, as from a DAHDI D channel. A few
// units wait at most; more are lost, as on a line nobody reads.
class Line {
 public:
  static const int kFirstFd = 1000;

  ssize_t read(int fd, void* buf, size_t n) {
    Queue* q = queue(fd);
    if (!q || q->count == 0) {
      errno = q ? EAGAIN : EBADF;
      return -1;
    }
    const Unit& u = q->units[q->first];
    const size_t len = std::min(n, u.length);
    std::memcpy(buf, u.octets, len);
    q->first = (q->first + 1) % kDepth;
    --q->count;
    return static_cast<ssize_t>(len);
  }
  ssize_t write(int fd, const void* buf, size_t n) {
    if (!queue(fd) || n > sizeof(Unit::octets)) {
      errno = EBADF;
      return -1;
    }
    Queue* q = queue(fd == kFirstFd ? fd + 1 : fd - 1);
    if (q->count < kDepth) {
      Unit& u = q->units[(q->first + q->count++) % kDepth];
      std::memcpy(u.octets, buf, n);
      u.length = n;
    }
    return static_cast<ssize_t>(n);
  }

 private:
  static const unsigned kDepth = 16;
  struct Unit {
    size_t length;
    unsigned char octets[300];
  };
  struct Queue {
    Unit units[kDepth];
    unsigned first = 0, count = 0;
  };
  Queue* queue(int fd) { return fd == kFirstFd ? &ends_[0] : fd == kFirstFd + 1 ? &ends_[1] : nullptr; }
  Queue ends_[2];  // what waits to be read on each end
};
Line line;

extern "C" ssize_t linkbench_ss7_read(int fd, void* buf, size_t n) { return line.read(fd, buf, n); }
extern "C" ssize_t linkbench_ss7_write(int fd, const void* buf, size_t n) { return line.write(fd, buf, n); }

// libss7's ISUP, as its MTP3 calls it: the MSUs' user part octets.
static unsigned long isup_octets = 0;
extern "C" int isup_receive(struct ss7*, struct mtp2*, struct routing_label*, unsigned char*, int len) {
  isup_octets += static_cast<unsigned long>(len);
  return 0;
}

namespace {

// An ISUP loop-back acknowledgement from point code 1 to 2, circuit 1.
const unsigned char kLpa[] = {0x85, 0x02, 0x40, 0x00, 0x00, 0x01, 0x00, 0x24};

// Our link's channel: counts the units the link sends and keeps the last.
class CountingChannel : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& f) override {
    ++sent;
    length = f.length();
    std::memcpy(last, f.data(), std::min<size_t>(length, sizeof last));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
  unsigned long sent = 0;
  size_t length = 0;
  unsigned char last[3] = {};
};

class Top : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override { octets += p.length(); }
  unsigned long octets = 0;
};

void BM_OursReceiveMsu(benchmark::State& state) {
  Mux::TestClock clock(1000);
  CountingChannel channel;
  Top top;
  auto* slc = new SS7::SLC;
  slc->set_transmitter(&channel);
  top.add_protocol_tail(slc);
  top.activate();
  const unsigned char sin[] = {0xFF, 0xFF, 0x01, 0x01}, fisu[] = {0xFF, 0xFF, 0x00};
  Packet p;
  p.reserve_tail(4);
  std::memcpy(p.put(4), sin, 4);
  slc->on_hdlc_receive(p);
  p = Packet();
  p.reserve_tail(3);
  std::memcpy(p.put(3), fisu, 3);
  slc->on_hdlc_receive(p);
  if (slc->get_state_id() != SS7::SLC::State::worked) state.SkipWithError("not in service");

  unsigned fsn = 0;
  unsigned char msu[3 + sizeof kLpa] = {0xFF, 0x80, sizeof kLpa};
  std::memcpy(msu + 3, kLpa, sizeof kLpa);
  bool acknowledged = true;
  channel.sent = 0;
  Packet last;
  for (auto _ : state) {
    msu[1] = static_cast<unsigned char>(0x80 | fsn);
    // What the channel does with a frame (ReadFrame, then the link), the
    // last frame's buffer reused when the link kept none of it.
    Packet in = last;
    last = Packet();
    if (!in.try_renew()) state.SkipWithError("no free packet");
    std::memcpy(in.put(sizeof msu), msu, sizeof msu);
    slc->on_hdlc_receive(in);
    if (in.get()->references() == 1) last = in;
    // The FISU back: its BSN is the MSU's FSN.
    acknowledged = acknowledged && channel.length == 3 && (channel.last[0] & 0x7F) == fsn;
    fsn = (fsn + 1) & 127;
  }
  if (!acknowledged || channel.sent != static_cast<unsigned long>(state.iterations()))
    state.SkipWithError("not one acknowledgement per MSU");
  if (top.octets != sizeof kLpa * state.iterations()) state.SkipWithError("MSUs lost");
  top.deactivate();
}
BENCHMARK(BM_OursReceiveMsu);

// Texts libss7 formatted (errors and messages).
unsigned long libss7_texts = 0;
void count_text(struct ss7*, char*) { ++libss7_texts; }
void ignore_call(struct ss7*, struct isup_call*, int) {}
int ignore_hangup(struct ss7*, int, unsigned int, int, int) { return SS7_CIC_IDLE; }

// libss7 brought into service against a second libss7 on its own clock; the
// bench then plays that second one, acknowledging whatever it sends.
void BM_Libss7ReceiveMsu(benchmark::State& state) {
  ss7_set_message(count_text);
  ss7_set_error(count_text);
  ss7_set_call_null(ignore_call);
  ss7_set_hangup(ignore_hangup);
  line = Line();
  const int fd[2] = {Line::kFirstFd, Line::kFirstFd + 1};
  struct ss7* a = ss7_new(SS7_ITU);
  struct ss7* b = ss7_new(SS7_ITU);
  ss7_set_pc(a, 2);
  ss7_set_pc(b, 1);
  ss7_set_network_ind(a, SS7_NI_NAT);
  ss7_set_network_ind(b, SS7_NI_NAT);
  ss7_add_link(a, SS7_TRANSPORT_DAHDIDCHAN, fd[0], 0, 1);
  ss7_add_link(b, SS7_TRANSPORT_DAHDIDCHAN, fd[1], 0, 2);
  ss7_start(a);
  ss7_start(b);
  bool up = false;
  for (int t = 0; t < 20000 && !up; ++t) {
    ++peer_ms;
    ss7_write(a, fd[0]);
    ss7_write(b, fd[1]);
    ss7_read(a, fd[0]);
    ss7_read(b, fd[1]);
    ss7_schedule_run(a);
    ss7_schedule_run(b);
    while (ss7_event* e = ss7_check_event(a)) up = up || e->e == SS7_EVENT_UP;
    while (ss7_check_event(b)) {
    }
  }
  if (!up) state.SkipWithError("libss7 did not come up");
  // From here the bench is b: the last unit a wrote tells what to send next.
  unsigned char last[300];
  unsigned char buf[300];
  ssize_t n;
  while ((n = line.read(fd[1], buf, sizeof buf)) > 0) std::memcpy(last, buf, size_t(n));
  ss7_write(a, fd[0]);
  if (line.read(fd[1], last, sizeof last) < 3) state.SkipWithError("no unit from libss7");

  unsigned char msu[3 + sizeof kLpa + 2] = {0, 0, sizeof kLpa};
  std::memcpy(msu + 3, kLpa, sizeof kLpa);
  bool acknowledged = true;
  libss7_texts = 0;
  isup_octets = 0;
  for (auto _ : state) {
    msu[0] = last[1];  // BIB and BSN: its FIB and FSN, all it sent acknowledged
    msu[1] = static_cast<unsigned char>((last[0] & 0x80) | ((last[0] + 1) & 0x7F));
    line.write(fd[1], msu, sizeof msu);
    ss7_read(a, fd[0]);
    ss7_write(a, fd[0]);
    while (ss7_check_event(a)) {
    }
    acknowledged = acknowledged && line.read(fd[1], last, sizeof last) == 5 && last[0] == msu[1];
  }
  if (!acknowledged) state.SkipWithError("not one acknowledgement per MSU");
  if (libss7_texts) state.SkipWithError("libss7 formatted texts: it did more than take the MSU");
  // The ISUP gets the message after the routing label (4 octets).
  if (isup_octets != (sizeof kLpa - 5) * state.iterations()) state.SkipWithError("MSUs lost");
  ss7_destroy(a);
  ss7_destroy(b);
}
BENCHMARK(BM_Libss7ReceiveMsu);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_summary(argc, argv, [](const bench::RatioReporter& r) {
    if (const double ratio = r.ratio("BM_OursReceiveMsu", "BM_Libss7ReceiveMsu"))
      std::printf("received MSU with its acknowledgement (medians): ours %.1f ns, libss7 %.1f ns: %.2fx libss7's time (goal: at most 1.0x)\n",
                  r.ns("BM_OursReceiveMsu"), r.ns("BM_Libss7ReceiveMsu"), ratio);
  });
}
