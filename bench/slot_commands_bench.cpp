// Slot commands on one controller connection of korvend-sim against `ping`
// round trips on the same connection of the same daemon, measured in
// alternating rounds by the lean client of the control-link benchmark. A
// cycle is six commands: create a trunk slot, create a map slot on a bus
// channel, connect the trunk to it, disconnect, destroy both; every answer
// is checked octet for octet (the stream signals in between are passed
// over). Both run one request at a time (depth 1) and pipelined (depth 16,
// sixteen requests in flight); the four measurements of a round run in a
// shuffled order, and each figure is the median of the rounds. Prints the
// time per command and per cycle, slot commands / pings in time (below 1:
// a slot command takes less than a ping), and the daemon's resident memory
// after the first tenth of the cycles and after all of them, which should
// not differ (the simulated board's journal of device requests is cleared
// after each round: it is the board's memory, not the daemon's).
//
//   slot_commands_bench [cycles]
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/pipeline.h"
#include "tests/e2e/daemon_harness.h"

namespace {

std::string tpkt(const std::string& payload) {
  const std::size_t n = payload.size() + 4;
  return std::string{'\x03', '\x00', static_cast<char>(n >> 8), static_cast<char>(n & 0xFF)} + payload;
}

// No seq, so that every answer of a command has a fixed form.
std::vector<bench::Exchange> slotCycle() {
  const std::string ok1 = tpkt(std::string("\x40\x00\x01\x40", 4)), ok2 = tpkt(std::string("\x40\x00\x02\x40", 4));
  return {
      {tpkt(std::string("\x40\x00\x01\x08\x38\x01\x28", 7)), ok1},  // slot 1: create trunk { trunk 1, timeslot 5 }
      {tpkt(std::string("\x40\x00\x02\x08\x4A\x21\x40", 7)), ok2},  // slot 2: create map { receiver { bus 1, channel 5 } }
      {tpkt(std::string("\x40\x00\x01\x04\x00\x02", 6)), ok1},      // slot 1: connect 2
      {tpkt(std::string("\x40\x00\x02\x06", 4)), ok2},              // slot 2: disconnect
      {tpkt(std::string("\x40\x00\x02\x0A", 4)), ok2},              // slot 2: destroy
      {tpkt(std::string("\x40\x00\x01\x0A", 4)), ok1},              // slot 1: destroy
  };
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned cycles = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 100000;
  ::signal(SIGPIPE, SIG_IGN);

  e2e::Root root;
  const int port = testkit::freePort();
  e2e::Daemon daemon(KORVEND_SIM_BINARY, root.dir(), {"--port", std::to_string(port)}, root.dir());
  const int s = bench::connectTo(port);
  const std::vector<bench::Exchange> ping = {
      {tpkt(std::string("\x06\x00", 2)), tpkt(std::string("\x10", 1))}};
  const std::vector<bench::Exchange> slots = slotCycle();
  // Whole cycles, in batches of sixteen.
  const auto commands = [&](unsigned n) { return n * 6 / 48 * 48; };

  bool ok = s >= 0 && bench::measure(s, slots, 16, commands(cycles / 10), true) > 0 &&  // warm-up
            bench::clearJournal(root.dir());
  const long warmKiB = e2e::residentKiB(daemon.pid());
  const unsigned rounds = 9;
  // Per round: pings and slot commands at each depth; one at a time, a
  // command waits a whole round trip, so that depth gets a quarter of them.
  struct Series {
    const std::vector<bench::Exchange>* cycle;
    unsigned depth;
    unsigned count;
    std::vector<double> rates;
  };
  const unsigned perRound = commands(cycles - cycles / 10) / rounds / 48 * 48;
  Series series[] = {{&ping, 1, perRound / 4 / 48 * 48, {}},
                     {&slots, 1, perRound / 4 / 48 * 48, {}},
                     {&ping, 16, perRound, {}},
                     {&slots, 16, perRound, {}}};
  std::minstd_rand shuffle(41);
  std::vector<Series*> order;
  for (Series& x : series) order.push_back(&x);
  for (unsigned r = 0; ok && r < rounds; ++r) {
    std::shuffle(order.begin(), order.end(), shuffle);
    for (Series* x : order) {
      x->rates.push_back(bench::measure(s, *x->cycle, x->depth, std::max(48u, x->count), true));
      ok = ok && x->rates.back() > 0;
    }
    ok = ok && bench::clearJournal(root.dir());
  }
  const long endKiB = e2e::residentKiB(daemon.pid());
  if (s >= 0) ::close(s);
  daemon.signal(SIGTERM);
  daemon.wait();
  if (!ok) {
    std::fprintf(stderr, "slot_commands_bench: a run failed (see %s/daemon.err)\n", root.dir().c_str());
    return 1;
  }
  std::printf("one controller connection of korvend-sim (medians of %u rounds)\n", rounds);
  std::printf("%-30s %6s %14s %14s %8s %s\n", "", "depth", "per command", "per cycle", "ratio", "goal");
  for (unsigned d = 0; d < 2; ++d) {
    const double p = 1e6 / bench::median(series[2 * d].rates), c = 1e6 / bench::median(series[2 * d + 1].rates);
    std::printf("%-30s %6u %11.2f us %11.2f us\n", "ping round trips", series[2 * d].depth, p, 6 * p);
    std::printf("%-30s %6u %11.2f us %11.2f us %7.2fx %s\n", "slot commands (6 a cycle)", series[2 * d].depth, c, 6 * c,
                c / p, "<= 2.0x");
  }
  std::printf("(ratio: slot commands / pings in time, below 1 = a slot command is faster than a ping)\n");
  std::printf("resident memory: %ld KiB after %u cycles, %ld KiB after %u\n", warmKiB, cycles / 10, endKiB, cycles);
  return 0;
}
