// Cost of the packet path against the plain heap, measured in the same run:
// taking a pooled packet, filling it and releasing it; a packet sent down
// and back up through a three-layer stack; and malloc/free of a 64 KiB
// buffer filled with the same bytes. Prints the ratios at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"
#include "runtime/packet.h"
#include "runtime/protocol.h"

namespace {

unsigned char payload[1500];

void BM_PacketTakeFillRelease(benchmark::State& state) {
  const unsigned n = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    Packet p;
    p.reserve_head(16);
    std::memcpy(p.put(n), payload, n);
    benchmark::DoNotOptimize(p.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PacketTakeFillRelease)->Arg(64)->Arg(1500);

void BM_Malloc64KiBFillFree(benchmark::State& state) {
  const unsigned n = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    unsigned char* b = static_cast<unsigned char*>(std::malloc(65536));
    benchmark::DoNotOptimize(b);
    std::memcpy(b + 16, payload, n);
    benchmark::ClobberMemory();
    std::free(b);
  }
}
BENCHMARK(BM_Malloc64KiBFillFree)->Arg(64)->Arg(1500);

// A layer with a two-byte big-endian header.
class HeaderLayer : public Protocol {
 public:
  explicit HeaderLayer(unsigned short tag) : tag_(tag) {}
  void local_prepare_head(Packet& p) override { p.reserve_head(2); }
  void message(Packet& p) override {
    p.push16_b(tag_);
    transmit(p);
  }
  void receive(Packet& p) override {
    if (p.length() < 2 || p.pull16_b() != tag_) return;
    on_message(p);
  }

 private:
  unsigned short tag_;
};

// Loops what leaves the bottom back into it, and counts what reaches the top.
class Loopback : public ProtocolsList {
 public:
  void transmit(Packet& p) override { head()->receive(p); }
  void on_message(Packet& p) override { delivered += p.length(); }
  unsigned long delivered = 0;
};

void BM_ThreeLayerPushPull(benchmark::State& state) {
  const unsigned n = static_cast<unsigned>(state.range(0));
  Loopback stack;
  stack.add_protocol_tail(new HeaderLayer(0x0101));
  stack.add_protocol_tail(new HeaderLayer(0x0202));
  stack.add_protocol_tail(new HeaderLayer(0x0303));
  Protocol* top = stack.tail();
  for (auto _ : state) {
    Packet p;
    top->prepare_head(p);
    std::memcpy(p.put(n), payload, n);
    top->message(p);
  }
  if (stack.delivered != n * static_cast<unsigned long>(state.iterations()))
    state.SkipWithError("payload lost in the stack");
}
BENCHMARK(BM_ThreeLayerPushPull)->Arg(64)->Arg(1500);

}  // namespace

int main(int argc, char** argv) {
  for (unsigned i = 0; i < sizeof payload; ++i) payload[i] = static_cast<unsigned char>(i);
  // Each packet figure as a ratio to the heap's.
  return bench::run_with_summary(argc, argv, [](const bench::RatioReporter& r) {
    for (const char* size : {"64", "1500"}) {
      const std::string peer = std::string("BM_Malloc64KiBFillFree/") + size;
      for (const char* name : {"BM_PacketTakeFillRelease/", "BM_ThreeLayerPushPull/"})
        if (const double ratio = r.ratio(std::string(name) + size, peer))
          std::printf("%-32s / %-28s = %.2f\n", (std::string(name) + size).c_str(), peer.c_str(), ratio);
    }
  });
}
