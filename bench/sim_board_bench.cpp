// The simulated board of korvend-sim in a long run and under abuse of its
// control socket, measured from outside:
//
//   1. a controller runs bus tests (each journals some 254 device requests)
//      and a ping after each, first alone (the peer: the ping's delay
//      without a journal reader), then with a client asking for the whole
//      journal over and over, until a million requests are journaled; the
//      daemon's resident memory is sampled all along;
//   2. a client asks for the journal a hundred times and never reads;
//   3. a client sends 200 MB without a newline;
//   4. a client asks for replies and never reads them.
//
// Prints the figures against their goals: memory flat within 20 MB, no
// ping delayed more than 100 ms by the journal, the two abusive clients
// dropped and the memory back where it was. Nothing is asserted; the exit
// status is 1 only when a run could not be made.
//
//   sim_board_bench [journaled-requests]
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/board.h"
#include "platform/sysroot.h"
#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// { pdu command : testBpc : { bus 0, seed 42, mode write, timeslot-start 0,
// timeslot-length 127 } }: 127 writes and 127 reads of the matrix.
const e2e::Bytes busTest = e2e::hex("00 80 01 2A 40 7F");
const e2e::Bytes ping = e2e::hex("06 00");

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// A blocking connection to the board's control socket, or -1.
int boardSocket(const std::string& path) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return s;
  if (s >= 0) ::close(s);
  return -1;
}

// One request on its own connection; the reply's content lines (the
// journal's can be millions of octets), or false when it failed.
bool boardRequest(const std::string& path, const std::string& request, std::vector<std::string>& lines) {
  lines.clear();
  const int s = boardSocket(path);
  if (s < 0) return false;
  const std::string line = request + "\n";
  bool ok = ::send(s, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  std::string pending;
  std::vector<char> buf(1 << 16);
  for (bool done = false; ok && !done;) {
    const ssize_t n = ::recv(s, buf.data(), buf.size(), 0);
    if (n <= 0) {
      ok = false;
      break;
    }
    pending.append(buf.data(), static_cast<std::size_t>(n));
    std::size_t at = 0;
    for (std::size_t nl; (nl = pending.find('\n', at)) != std::string::npos; at = nl + 1) {
      const std::string l = pending.substr(at, nl - at);
      if (l == "." || l.rfind("?", 0) == 0) {
        done = true;
        ok = l == ".";
        break;
      }
      lines.push_back(l[0] == '.' ? l.substr(1) : l);
    }
    pending.erase(0, at);
  }
  ::close(s);
  return ok;
}

// Requests journaled since the journal was last cleared: those dropped
// from it and those it holds.
long long journaled(const std::vector<std::string>& reply) {
  long long dropped = 0;
  if (!reply.empty() && std::sscanf(reply[0].c_str(), "journal: %lld earlier lines dropped", &dropped) == 1)
    return dropped + static_cast<long long>(reply.size()) - 1;
  return static_cast<long long>(reply.size());
}

// A request and its answer on the controller link; the round trip in ms,
// or a negative value when the answer was not a success.
double roundTrip(e2e::RawClient& c, const e2e::Bytes& request) {
  const auto t0 = Clock::now();
  e2e::Bytes reply;
  if (!c.sendPayload(request) || !c.reply(reply, 10s) || reply != e2e::hex("10")) return -1;
  return msSince(t0);
}

struct Rounds {
  double maxPing = 0;
  long rounds = 0;
  bool ok = true;
};

// Bus tests, each followed by a ping, while more(rounds done) holds; calls
// sample(rounds done) every hundred rounds.
template <class More, class Sample>
Rounds runRounds(e2e::RawClient& c, More more, Sample sample) {
  Rounds r;
  for (; r.ok && more(r.rounds); ++r.rounds) {
    const double bus = roundTrip(c, busTest);
    const double p = roundTrip(c, ping);
    r.ok = bus >= 0 && p >= 0;
    r.maxPing = std::max(r.maxPing, p);
    if (r.rounds % 100 == 0) sample(r.rounds);
  }
  return r;
}

// Sends `total` octets of 'a' (blocking) in pieces until all is sent or the board drops
// the client; calls between() after each mebibyte. The octets taken.
template <class Between>
std::size_t flood(int s, std::size_t total, Between between) {
  const std::vector<char> piece(1 << 16, 'a');
  std::size_t sent = 0;
  while (sent < total) {
    const ssize_t n = ::send(s, piece.data(), std::min(piece.size(), total - sent), MSG_NOSIGNAL);
    if (n <= 0) break;
    if ((sent + static_cast<std::size_t>(n)) >> 20 != sent >> 20) between();
    sent += static_cast<std::size_t>(n);
  }
  return sent;
}

// Whether the board has closed the client's connection (within a few
// seconds), whatever it still had to read.
bool droppedByBoard(int s) {
  char buf[65536];
  return e2e::waitFor(
      [&] {
        const ssize_t n = ::recv(s, buf, sizeof buf, MSG_DONTWAIT);
        return n == 0 || (n < 0 && errno != EAGAIN);
      },
      5s);
}

}  // namespace

int main(int argc, char** argv) {
  const long long target = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 1000000;
  ::signal(SIGPIPE, SIG_IGN);
  e2e::Root root;
  const int port = testkit::freePort();
  e2e::Daemon daemon(KORVEND_SIM_BINARY, root.dir(), {"--port", std::to_string(port)}, root.dir());
  const std::string sock = root.path(sysroot::sim_board_socket);
  e2e::RawClient c;
  if (!e2e::waitFor([&] { return c.connect(port) && roundTrip(c, ping) >= 0; })) {
    std::fprintf(stderr, "sim_board_bench: the daemon did not answer\n");
    return 1;
  }
  const pid_t pid = daemon.pid();
  std::vector<std::string> reply;

  // What one bus test journals.
  boardRequest(sock, "journal clear", reply);
  roundTrip(c, busTest);
  boardRequest(sock, "journal", reply);
  const long perRound = static_cast<long>(std::max<long long>(1, journaled(reply)));
  boardRequest(sock, "journal clear", reply);

  // 1. Alone (the peer), then with a journal reader up to `target`.
  const long startKiB = e2e::residentKiB(pid);
  const long peerRounds = 1000;
  const Rounds alone = runRounds(c, [&](long n) { return n < peerRounds; }, [](long) {});
  std::atomic<bool> stop{false};
  std::atomic<long> journals{0};
  std::atomic<long> failedJournals{0};
  std::thread reader([&] {
    std::vector<std::string> lines;
    while (!stop) {
      if (boardRequest(sock, "journal", lines))
        ++journals;
      else
        ++failedJournals;
    }
  });
  // Rounds from which the journal holds its 100,000 lines.
  const long full = static_cast<long>(sim::Board::journal_lines / perRound) + 1 - peerRounds;
  const long rounds = static_cast<long>((target + perRound - 1) / perRound) - peerRounds;
  long fullKiB = 0, maxKiB = 0;
  const Rounds busy = runRounds(
      c, [&](long n) { return n < rounds; },
      [&](long n) {
        const long kib = e2e::residentKiB(pid);
        maxKiB = std::max(maxKiB, kib);
        if (n >= full && fullKiB == 0) fullKiB = kib;
      });
  stop = true;
  reader.join();
  const long endKiB = e2e::residentKiB(pid);
  boardRequest(sock, "journal", reply);
  const long long total = journaled(reply);

  // 2. A journal asked for a hundred times and never read.
  const int deaf = boardSocket(sock);
  std::string asks;
  for (int i = 0; i < 100; ++i) asks += "journal\n";
  ::send(deaf, asks.data(), asks.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  const long deafBefore = e2e::residentKiB(pid);
  long deafMax = deafBefore;
  const Rounds withDeaf = runRounds(
      c, [&](long n) { return n < 500; }, [&](long) { deafMax = std::max(deafMax, e2e::residentKiB(pid)); });
  ::close(deaf);

  // 3. 200 MB without a newline.
  const long floodBefore = e2e::residentKiB(pid);
  long floodMax = floodBefore;
  const int flooder = boardSocket(sock);
  const auto floodStart = Clock::now();
  const std::size_t taken = flood(flooder, std::size_t(200) << 20, [&] {
    floodMax = std::max(floodMax, e2e::residentKiB(pid));
  });
  const bool floodDropped = droppedByBoard(flooder);
  const double floodMs = msSince(floodStart);
  ::close(flooder);
  const double floodPing = roundTrip(c, ping);
  const long floodAfter = e2e::residentKiB(pid);

  // 4. Replies asked for and never read.
  const int spammer = boardSocket(sock);
  std::string helps;
  for (int i = 0; i < 20000; ++i) helps += "help\n";
  const ssize_t spamSent = ::send(spammer, helps.data(), helps.size(), MSG_NOSIGNAL);
  const std::size_t spamTaken = spamSent > 0 ? static_cast<std::size_t>(spamSent) : 0;
  const bool spamDropped = droppedByBoard(spammer);
  ::close(spammer);
  const long spamAfter = e2e::residentKiB(pid);
  const std::string err = daemon.err();

  daemon.signal(SIGTERM);
  daemon.wait();
  if (!alone.ok || !busy.ok || !withDeaf.ok || floodPing < 0) {
    std::fprintf(stderr, "sim_board_bench: a controller round failed\n");
    return 1;
  }
  std::printf("simulated board: %ld bus tests of %ld journaled requests each, a ping after each\n",
              alone.rounds + busy.rounds, perRound);
  std::printf("%-52s %14s %s\n", "", "measured", "goal");
  std::printf("%-52s %14lld %s\n", "requests journaled in the run", total, "");
  std::printf("%-52s %11.1f ms %s\n", "longest ping delay, no journal reader (peer)", alone.maxPing, "");
  std::printf("%-52s %11.1f ms %s\n", "longest ping delay, journal read over and over", busy.maxPing, "<= 100 ms");
  std::printf("%-52s %14ld %s\n", "whole journals read meanwhile", journals.load(), "");
  std::printf("%-52s %14ld\n", "  failed", failedJournals.load());
  std::printf("%-52s %11ld KiB\n", "resident memory at start", startKiB);
  std::printf("%-52s %11ld KiB\n", "  when the journal was full (100,000 lines)", fullKiB);
  std::printf("%-52s %11ld KiB %s\n", "  highest after", maxKiB, "");
  std::printf("%-52s %11ld KiB %s\n", "  growth from start to highest", maxKiB - startKiB, "<= 20480 KiB");
  std::printf("%-52s %11ld KiB\n", "  at the end of the run", endKiB);
  std::printf("%-52s %11ld KiB %s\n", "100 journals never read: memory growth", deafMax - deafBefore, "flat");
  std::printf("%-52s %11.1f ms\n", "  longest ping delay meanwhile", withDeaf.maxPing);
  std::printf("%-52s %11zu B  %s\n", "200 MB without newline: octets taken before the drop", taken, "");
  std::printf("%-52s %14s %s\n", "  dropped", floodDropped ? "yes" : "NO", "yes");
  std::printf("%-52s %11.1f ms\n", "  time from the first octet to the drop", floodMs);
  std::printf("%-52s %11ld KiB\n", "  resident memory before", floodBefore);
  std::printf("%-52s %11ld KiB\n", "  highest while flooded", floodMax);
  std::printf("%-52s %11ld KiB %s\n", "  after the drop", floodAfter, "back to before");
  std::printf("%-52s %11zu B\n", "replies never read: request octets taken", spamTaken);
  std::printf("%-52s %14s %s\n", "  dropped", spamDropped ? "yes" : "NO", "yes");
  std::printf("%-52s %11ld KiB\n", "  resident memory after", spamAfter);
  std::printf("%-52s %14zu %s\n", "board log lines on dropped clients",
              e2e::count(err, "simulated board: control client dropped: "), "2");
  return 0;
}
