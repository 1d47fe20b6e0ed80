// Round trips of `ping` on one controller connection of korvend-sim against
// redis-server's PING, measured in the same run by the same lean client: one
// blocking socket with no delay, the requests of a batch written at once,
// the fixed-size replies counted and checked octet by octet. At depth 1 a
// batch is one request; at depth 16 sixteen requests are in flight. Both
// servers run side by side and are measured in alternating rounds, so that
// a change in the machine's load weighs on both; each rate is the median of
// the rounds. Prints the rates, their ratios, and each server's resident
// memory at the end (after more than a million pings). A second korvend-sim
// runs without the switching matrix, to tell the control link's own cost
// from that of the matrix refresh answered by the simulated board.
//
//   control_link_bench [pings-at-depth-1 [pings-at-depth-16]]
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/pipeline.h"
#include "platform/sysroot.h"
#include "tests/e2e/daemon_harness.h"

namespace {

using bench::connectTo;
using bench::median;

struct Server {
  std::unique_ptr<e2e::Daemon> process;
  int socket = -1;
  bool framed = false;
  std::vector<bench::Exchange> ping;
  std::vector<double> depth1, depth16;
};

double measure(const Server& s, unsigned depth, unsigned count) {
  return bench::measure(s.socket, s.ping, depth, count, s.framed);
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned n1 = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 200000;
  const unsigned n16 = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) / 16 * 16 : 1000000;
  ::signal(SIGPIPE, SIG_IGN);

  // The second daemon runs on a board whose switching matrix cannot be
  // opened: its loop passes carry no matrix refresh, whose requests the
  // simulated board answers in-process, so it shows the link's own cost.
  e2e::Root root, bare;
  std::filesystem::create_directories(root.dir() + "/redis");
  bare.make_parent(sysroot::sim_board_init);
  if (!(std::ofstream(bare.path(sysroot::sim_board_init)) << "refuse-open " << sysroot::hal << "\n")) return 1;

  // ping without seq (06 00), answered success (10); redis's inline PING.
  Server korvend, noMatrix, redis;
  for (Server* s : {&korvend, &noMatrix}) {
    s->ping = {{std::string("\x03\x00\x00\x06\x06\x00", 6), std::string("\x03\x00\x00\x05\x10", 5)}};
    s->framed = true;
  }
  redis.ping = {{"PING\r\n", "+PONG\r\n"}};
  const int kport = testkit::freePort(), bport = testkit::freePort(), rport = testkit::freePort();
  const auto sim = [](const e2e::Root& r, int port) {
    return std::make_unique<e2e::Daemon>(KORVEND_SIM_BINARY, r.dir(),
                                         std::vector<std::string>{"--port", std::to_string(port)}, r.dir());
  };
  korvend.process = sim(root, kport);
  noMatrix.process = sim(bare, bport);
  redis.process = std::make_unique<e2e::Daemon>(
      std::vector<std::string>{"redis-server", "--port", std::to_string(rport), "--save", "", "--appendonly", "no",
                               "--bind", "127.0.0.1"},
      "", root.dir() + "/redis");
  korvend.socket = connectTo(kport);
  noMatrix.socket = connectTo(bport);
  redis.socket = connectTo(rport);
  const std::vector<Server*> servers = {&korvend, &noMatrix, &redis};
  bool ok = true;
  for (Server* s : servers)
    if (ok) ok = s->socket >= 0 && measure(*s, 1, 10000) > 0;  // warm-up
  const unsigned rounds = 5;
  for (unsigned r = 0; ok && r < rounds; ++r)
    for (Server* s : servers) {
      s->depth1.push_back(measure(*s, 1, n1 / rounds));
      s->depth16.push_back(measure(*s, 16, n16 / rounds / 16 * 16));
      ok = ok && s->depth1.back() > 0 && s->depth16.back() > 0;
    }
  const long krss = e2e::residentKiB(korvend.process->pid()), rrss = e2e::residentKiB(redis.process->pid());
  for (Server* s : servers) {
    if (s->socket >= 0) ::close(s->socket);
    s->process->signal(SIGTERM);
    s->process->wait();
  }
  if (!ok) {
    std::fprintf(stderr, "control_link_bench: a run failed (is redis-server installed?)\n");
    return 1;
  }
  const double k1 = median(korvend.depth1), k16 = median(korvend.depth16);
  const double b1 = median(noMatrix.depth1), b16 = median(noMatrix.depth16);
  const double r1 = median(redis.depth1), r16 = median(redis.depth16);
  std::printf("ping round trips per second, one connection (%u at depth 1, %u at depth 16, %u rounds)\n", n1, n16,
              rounds);
  std::printf("%-22s %14s %14s %14s %8s %8s %s\n", "", "korvend-sim", "(no matrix)", "redis-server", "rate",
              "(no m.)", "goal");
  std::printf("%-22s %14.0f %14.0f %14.0f %7.2fx %7.2fx %s\n", "depth 1", k1, b1, r1, k1 / r1, b1 / r1, ">= 1.0x");
  std::printf("%-22s %14.0f %14.0f %14.0f %7.2fx %7.2fx %s\n", "depth 16 (pipelined)", k16, b16, r16, k16 / r16,
              b16 / r16, ">= 0.5x");
  std::printf("(rate: korvend-sim / redis-server in pings per second, above 1 = korvend faster)\n");
  std::printf("resident memory after %u pings each: korvend-sim %ld KiB, redis-server %ld KiB\n", 10000 + n1 + n16,
              krss, rrss);
  return 0;
}
