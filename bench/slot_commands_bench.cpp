// Slot commands on one controller connection of korvend-sim against `ping`
// round trips on the same connection of the same daemon, measured in
// alternating rounds by the lean client of the control-link benchmark. A
// cycle is six commands: create a trunk slot, create a map slot on a bus
// channel, connect the trunk to it, disconnect, destroy both; every answer
// is checked octet for octet (the stream signals in between are passed
// over). Both run pipelined at depth 16 (sixteen requests in flight); each
// rate is the median of the rounds. Prints the rates, their ratio, and the
// daemon's resident memory after the first tenth of the cycles and after
// all of them, which should not differ (the simulated board's journal of
// device requests is cleared after each round: it is the board's memory,
// not the daemon's).
//
//   slot_commands_bench [cycles]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
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
  const unsigned depth = 16;
  // Whole cycles, in batches of the depth.
  const auto commands = [&](unsigned n) { return n * 6 / 48 * 48; };

  bool ok = s >= 0 && bench::measure(s, slots, depth, commands(cycles / 10), true) > 0 &&  // warm-up
            bench::clearJournal(root.dir());
  const long warmKiB = e2e::residentKiB(daemon.pid());
  const unsigned rounds = 9;
  std::vector<double> pingRates, slotRates;
  for (unsigned r = 0; ok && r < rounds; ++r) {
    pingRates.push_back(bench::measure(s, ping, depth, commands(cycles - cycles / 10) / rounds / 48 * 48, true));
    slotRates.push_back(bench::measure(s, slots, depth, commands(cycles - cycles / 10) / rounds / 48 * 48, true));
    ok = pingRates.back() > 0 && slotRates.back() > 0 && bench::clearJournal(root.dir());
  }
  const long endKiB = e2e::residentKiB(daemon.pid());
  if (s >= 0) ::close(s);
  daemon.signal(SIGTERM);
  daemon.wait();
  if (!ok) {
    std::fprintf(stderr, "slot_commands_bench: a run failed (see %s/daemon.err)\n", root.dir().c_str());
    return 1;
  }
  const double p = bench::median(pingRates), c = bench::median(slotRates);
  std::printf("one controller connection of korvend-sim, depth 16 (%u rounds)\n", rounds);
  std::printf("%-36s %14s %8s %s\n", "", "per second", "ratio", "goal");
  std::printf("%-36s %14.0f\n", "ping round trips", p);
  std::printf("%-36s %14.0f %7.2fx %s\n", "slot commands (6 a cycle)", c, c / p, ">= 0.5x");
  std::printf("resident memory: %ld KiB after %u cycles, %ld KiB after %u\n", warmKiB, cycles / 10, endKiB, cycles);
  return 0;
}
