// Cost of one received I frame, with the RR it causes, on our LAPD and on
// Debian's libpri (an independent Q.921 stack) in the same run: the same
// frames (I frames with P = 1 from the network side, each answered by an RR
// with F = 1), handed over in-process, no sockets. Prints the ratio at the
// end. Only the data link's work and the delivery upwards are compared: our
// frames go up to an empty protocol family, libpri's to its Q.931, and the
// payload is one its Q.931 drops at once and without a word (a message cut
// after its call reference length). A payload it answers, or warns about,
// would add its layer 3's work or a formatted text to every frame; the
// bench fails when libpri formats any text while it runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "links/isdn/lapd.h"
#include "runtime/packet.h"
#include "runtime/protocol.h"

extern "C" {
#include <libpri.h>
}

namespace {

using Bytes = std::vector<unsigned char>;

// I frames N(S) 0..127, N(R) 0, P 1, from the network to the user; the
// payload is Q.931's protocol discriminator and a call reference length of
// 1, and nothing more.
std::vector<Bytes> frames() {
  std::vector<Bytes> f;
  for (unsigned ns = 0; ns < 128; ++ns)
    f.push_back({0x02, 0x01, static_cast<unsigned char>(ns << 1), 0x01, 0x08, 0x01});
  return f;
}

// Counts the frames the link sends, and checks they are the RR F=1 answers.
class CountingChannel : public GenericHDLC {
 public:
  bool hdlc_transmit(Packet& frame) override {
    if (frame.length() == 4 && frame.data()[2] == 0x01 && (frame.data()[3] & 1)) ++rr;
    ++sent;
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
  unsigned long sent = 0;
  unsigned long rr = 0;
};

class Top : public ProtocolsFamily {
 public:
  void on_message(Packet& p) override { received += p.length(); }
  unsigned long received = 0;
};

void BM_OurLapdIFrame(benchmark::State& state) {
  const std::vector<Bytes> f = frames();
  CountingChannel channel;
  Top top;
  auto* link = new ISDN::LAPD(ISDN::Side::user, 0);
  link->set_transmitter(&channel);
  top.add_protocol_tail(link);
  const Bytes sabme = {0x02, 0x01, 0x7F};
  Packet s;
  s.reserve_head(0);
  std::memcpy(s.put(3), sabme.data(), 3);
  link->on_hdlc_receive(s);
  channel.rr = 0;
  unsigned i = 0;
  Packet last;
  for (auto _ : state) {
    const Bytes& b = f[i++ & 127];
    // What the channel does with a frame (ReadFrame, then the link), the
    // last frame's buffer reused when the link kept none of it.
    Packet p = last;
    last = Packet();
    if (!p.try_renew()) state.SkipWithError("no free packet");
    std::memcpy(p.put(static_cast<unsigned>(b.size())), b.data(), b.size());
    link->on_hdlc_receive(p);
    if (p.get()->references() == 1) last = p;
  }
  if (channel.rr != static_cast<unsigned long>(state.iterations())) state.SkipWithError("not one RR per I frame");
  if (top.received != 2 * static_cast<unsigned long>(state.iterations())) state.SkipWithError("payloads not delivered");
}
BENCHMARK(BM_OurLapdIFrame);

// libpri reads one frame per pri_check_event through its read callback; its
// frames carry two FCS octets.
struct LibpriFeed {
  const Bytes* next = nullptr;
  unsigned long sent = 0;
  unsigned long rr = 0;
};

int feed_read(struct pri* pri, void* buf, int buflen) {
  auto* feed = static_cast<LibpriFeed*>(pri_get_userdata(pri));
  if (!feed->next || static_cast<int>(feed->next->size()) + 2 > buflen) return -1;
  std::memcpy(buf, feed->next->data(), feed->next->size());
  std::memset(static_cast<unsigned char*>(buf) + feed->next->size(), 0, 2);
  const int n = static_cast<int>(feed->next->size()) + 2;
  feed->next = nullptr;
  return n;
}

int feed_write(struct pri* pri, void* buf, int buflen) {
  auto* feed = static_cast<LibpriFeed*>(pri_get_userdata(pri));
  const auto* b = static_cast<const unsigned char*>(buf);
  if (buflen == 6 && b[2] == 0x01 && (b[3] & 1)) ++feed->rr;
  ++feed->sent;
  return buflen;
}

// Texts libpri formatted (errors, warnings, debug messages).
unsigned long libpri_texts = 0;
void count_text(struct pri*, char*) { ++libpri_texts; }

void BM_LibpriIFrame(benchmark::State& state) {
  const std::vector<Bytes> f = frames();
  static LibpriFeed feed;
  pri_set_error(count_text);
  pri_set_message(count_text);
  // The controller lives to the end of the process: libpri cannot free one.
  static struct pri* pri = pri_new_cb(-1, PRI_CPE, PRI_SWITCH_EUROISDN_E1, feed_read, feed_write, &feed);
  if (!pri) {
    state.SkipWithError("pri_new_cb failed");
    return;
  }
  // libpri asked for the link when it was made; the network's UA F=1 (or,
  // on a later run, its SABME) brings it up.
  const Bytes ua = {0x00, 0x01, 0x73};
  const Bytes sabme = {0x02, 0x01, 0x7F};
  feed.next = &ua;
  pri_check_event(pri);
  feed.next = &sabme;
  pri_check_event(pri);
  feed.rr = 0;
  libpri_texts = 0;
  unsigned i = 0;
  for (auto _ : state) {
    feed.next = &f[i++ & 127];
    pri_check_event(pri);
  }
  if (feed.rr != static_cast<unsigned long>(state.iterations())) state.SkipWithError("not one RR per I frame");
  if (libpri_texts) state.SkipWithError("libpri formatted texts: its layer 3 did more than drop the payload");
}
BENCHMARK(BM_LibpriIFrame);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_summary(argc, argv, [](const bench::RatioReporter& r) {
    if (const double ratio = r.ratio("BM_OurLapdIFrame", "BM_LibpriIFrame"))
      std::printf("one I frame and its RR (medians): ours %.1f ns, libpri %.1f ns: %.2fx libpri's time (goal: at most 1.0x)\n",
                  r.ns("BM_OurLapdIFrame"), r.ns("BM_LibpriIFrame"), ratio);
  });
}
