// Cost of one received MSU, including the acknowledgement it causes, in our
// MTP level 2 link and in libss7's (Debian's MTP2/MTP3 stack), measured in
// the same run. Both read the MSU from a socket, check it, pass it up and
// write the FISU that acknowledges it to the socket; the bench writes the
// MSU and reads the FISU on the other end, the same work for both. Prints
// ours as a ratio of libss7's time.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

extern "C" {
#include <libss7.h>
}

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

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

namespace {

struct Pair {
  int fd[2];
  Pair() {
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fd) != 0) fd[0] = fd[1] = -1;
  }
  ~Pair() {
    close(fd[0]);
    close(fd[1]);
  }
};

// An ISUP loop-back acknowledgement from point code 1 to 2, circuit 1.
const unsigned char kLpa[] = {0x85, 0x02, 0x40, 0x00, 0x00, 0x01, 0x00, 0x24};

// Our link's channel: a socket, as the MCC channel is.
class SocketChannel : public GenericHDLC {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}
  bool hdlc_transmit(Packet& f) override { return write(fd_, f.data(), f.length()) == ssize_t(f.length()); }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }

 private:
  int fd_;
};

class Top : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override { octets += p.length(); }
  unsigned long octets = 0;
};

void BM_OursReceiveMsu(benchmark::State& state) {
  Mux::TestClock clock(1000);
  Pair pair;
  SocketChannel channel(pair.fd[0]);
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
  unsigned char buf[300];
  while (read(pair.fd[1], buf, sizeof buf) > 0) {
  }
  if (slc->get_state_id() != SS7::SLC::State::worked) state.SkipWithError("not in service");

  unsigned fsn = 0;
  unsigned char msu[3 + sizeof kLpa] = {0xFF, 0x80, sizeof kLpa};
  std::memcpy(msu + 3, kLpa, sizeof kLpa);
  for (auto _ : state) {
    msu[1] = static_cast<unsigned char>(0x80 | fsn);
    fsn = (fsn + 1) & 127;
    if (write(pair.fd[1], msu, sizeof msu) != ssize_t(sizeof msu)) state.SkipWithError("write");
    // What the channel does on a readable descriptor, then the link.
    Packet in;
    in.reserve_head(0);
    const ssize_t n = read(pair.fd[0], in.put(sizeof buf), sizeof buf);
    in.cut(sizeof buf - unsigned(n > 0 ? n : 0));
    slc->on_hdlc_receive(in);
    if (read(pair.fd[1], buf, sizeof buf) != 3) state.SkipWithError("no acknowledgement");
  }
  if (top.octets != sizeof kLpa * state.iterations()) state.SkipWithError("MSUs lost");
}
BENCHMARK(BM_OursReceiveMsu);

void ignore_text(struct ss7*, char*) {}
void ignore_call(struct ss7*, struct isup_call*, int) {}
int ignore_hangup(struct ss7*, int, unsigned int, int, int) { return SS7_CIC_IDLE; }

// libss7 brought into service against a second libss7 on its own clock; the
// bench then plays that second one, acknowledging whatever it sends.
void BM_Libss7ReceiveMsu(benchmark::State& state) {
  ss7_set_message(ignore_text);
  ss7_set_error(ignore_text);
  ss7_set_call_null(ignore_call);
  ss7_set_hangup(ignore_hangup);
  Pair pair;
  struct ss7* a = ss7_new(SS7_ITU);
  struct ss7* b = ss7_new(SS7_ITU);
  ss7_set_pc(a, 2);
  ss7_set_pc(b, 1);
  ss7_set_network_ind(a, SS7_NI_NAT);
  ss7_set_network_ind(b, SS7_NI_NAT);
  ss7_add_link(a, SS7_TRANSPORT_DAHDIDCHAN, pair.fd[0], 0, 1);
  ss7_add_link(b, SS7_TRANSPORT_DAHDIDCHAN, pair.fd[1], 0, 2);
  ss7_start(a);
  ss7_start(b);
  bool up = false;
  for (int t = 0; t < 20000 && !up; ++t) {
    ++peer_ms;
    ss7_write(a, pair.fd[0]);
    ss7_write(b, pair.fd[1]);
    ss7_read(a, pair.fd[0]);
    ss7_read(b, pair.fd[1]);
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
  while ((n = read(pair.fd[1], buf, sizeof buf)) > 0) std::memcpy(last, buf, size_t(n));
  ss7_write(a, pair.fd[0]);
  if (read(pair.fd[1], last, sizeof last) < 3) state.SkipWithError("no unit from libss7");

  unsigned char msu[3 + sizeof kLpa + 2] = {0, 0, sizeof kLpa};
  std::memcpy(msu + 3, kLpa, sizeof kLpa);
  for (auto _ : state) {
    msu[0] = last[1];  // BIB and BSN: its FIB and FSN, all it sent acknowledged
    msu[1] = static_cast<unsigned char>((last[0] & 0x80) | ((last[0] + 1) & 0x7F));
    if (write(pair.fd[1], msu, sizeof msu) != ssize_t(sizeof msu)) state.SkipWithError("write");
    ss7_read(a, pair.fd[0]);
    ss7_write(a, pair.fd[0]);
    while (ss7_check_event(a)) {
    }
    if (read(pair.fd[1], last, sizeof last) < 3) state.SkipWithError("no acknowledgement");
  }
  ss7_destroy(a);
  ss7_destroy(b);
}
BENCHMARK(BM_Libss7ReceiveMsu);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_summary(argc, argv, [](const bench::RatioReporter& r) {
    if (const double ratio = r.ratio("BM_OursReceiveMsu", "BM_Libss7ReceiveMsu"))
      std::printf("received MSU with its acknowledgement: ours / libss7 = %.2f (goal: at most 1.00)\n", ratio);
  });
}
