// The modem authentication server's peer check under a host that holds
// many sockets open, measured in one run against the same check with none:
//
//   1. in-process: the lookup for a stranger's connection (its peer socket
//      and whether one of 8 idle programs, or anything they started, holds
//      it), for a stranger that waits for the server to close and for one
//      that writes and closes first (its end orphaned, as the kernel keeps
//      it), and the socket tables' answer alone (what a kernel without
//      socket diagnostics costs), first with no idle sockets, then with
//      the given number open (half of them accepted ends);
//   2. as root, in a network namespace of its own: korvend-sim with 8
//      modem slots whose programs have authenticated; for 5 s (or as given)
//      60 strangers connect and send a request while one client reconnects
//      in a loop (every other time closing at once after its request), and
//      the controller pings every 10 ms: the worst and the median ping,
//      with no idle sockets and with them.
//
// Prints the figures and the ratios (with / without: about 1 is the goal;
// a stranger that closes first against one that waits: 3 at most, with
// the idle sockets too); nothing is asserted.
//
//   auth_peer_bench [idle-sockets [seconds]]   (default 60000 5; "2000 1" for a
//                                              short run)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "platform/sysroot.h"
#include "slots/socket_peer.h"
#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"
#include "tests/net_namespace.h"
#include "tests/standins/plugin_records.h"
#include "tests/standins/standin.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int listener() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = testkit::loopback(0);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 4096) != 0) return -1;
  return s;
}

int portOf(int s) {
  sockaddr_in a;
  socklen_t n = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

// Idle connections to listeners of their own, count sockets in all, held
// by helper processes (a process may not hold them all).
class Idle {
 public:
  explicit Idle(unsigned count) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(hold_, O_CLOEXEC) != 0) return;
    const unsigned share = 16000;
    for (unsigned left = count; left > 0; left -= std::min(left, share)) {
      const pid_t p = ::fork();
      if (p < 0) {
        std::perror("auth_peer_bench: fork");  // fewer sockets, as the count says
        break;
      }
      if (p == 0) {
        ::close(hold_[1]);
        std::vector<int> fds = open(std::min(left, share));
        const unsigned made = static_cast<unsigned>(fds.size());
        if (::write(ready[1], &made, sizeof made) < 0) ::_exit(1);
        char c;
        while (::read(hold_[0], &c, 1) > 0) {
        }
        ::_exit(0);
      }
      helpers_.push_back(p);
    }
    ::close(ready[1]);
    for (std::size_t i = 0; i < helpers_.size(); ++i) {
      unsigned made = 0;
      if (::read(ready[0], &made, sizeof made) == static_cast<ssize_t>(sizeof made)) open_ += made;
    }
    ::close(ready[0]);
  }
  ~Idle() {
    ::close(hold_[1]);
    ::close(hold_[0]);
    for (pid_t p : helpers_) ::waitpid(p, nullptr, 0);
  }
  unsigned sockets() const { return open_; }

 private:
  static std::vector<int> open(unsigned count) {
    rlimit files{count + 1024, count + 1024};
    ::setrlimit(RLIMIT_NOFILE, &files);
    std::vector<int> fds;
    int server = -1;
    for (unsigned made = 0; made + 1 < count; made += 2) {
      if (made % 20000 == 0) {
        server = listener();
        fds.push_back(server);
      }
      const sockaddr_in to = testkit::loopback(portOf(server));
      const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (c < 0 || ::connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) break;
      const int a = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
      fds.push_back(c);
      if (a >= 0) fds.push_back(a);
    }
    return fds;
  }

  int hold_[2] = {-1, -1};
  std::vector<pid_t> helpers_;
  unsigned open_ = 0;
};

struct Lookup {
  double check;  // ms, median: a stranger that waits for the server to close
  double closeFirst;  // one that writes and closes before it is checked
  double tables;
};

// The check of one stranger's accepted connection, in ms.
double checked(int accepted, const std::vector<pid_t>& programs) {
  const auto t = Clock::now();
  if (socket_peer::holder(accepted, programs) != -1) std::printf("a stranger was taken for a program!\n");
  return msSince(t);
}

// Strangers' connections to server, checked against the programs, n times
// each kind, in turns.
Lookup lookups(int server, const std::vector<pid_t>& programs, int n) {
  std::vector<double> check, closeFirst, tables;
  const sockaddr_in to = testkit::loopback(portOf(server));
  const char record[] = "a stranger's record";
  for (int i = 0; i < n; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) break;
    int a = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    check.push_back(checked(a, programs));
    if (i % 10 == 0) {
      const auto t = Clock::now();
      socket_peer::table_peer_inode(a);
      tables.push_back(msSince(t));
    }
    ::close(a);
    ::close(c);
    c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(c, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
        ::write(c, record, sizeof record) != static_cast<ssize_t>(sizeof record))
      break;
    ::close(c);
    a = ::accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    closeFirst.push_back(checked(a, programs));
    ::close(a);
  }
  return {median(check), median(closeFirst), median(tables)};
}

testkit::Bytes encode(const std::string& valueNotation) {
  LGCP::Message m;
  std::vector<char> out;
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  if (!m.setFromValueNotation(valueNotation) || !ASN1::encode(m, &env, std::back_inserter(out))) {
    std::fprintf(stderr, "cannot encode %s\n", valueNotation.c_str());
    std::exit(1);
  }
  return testkit::Bytes(out.begin(), out.end());
}

struct Pings {
  double worst = -1;
  double median = -1;
};

// Part 2 with whatever the namespace holds open now.
Pings daemonPings(std::chrono::seconds load) {
  e2e::Root root;
  root.make_parent(sysroot::sim_board_init);
  std::ofstream(root.path(sysroot::sim_board_init)) << "mctl modems 8\n";
  if (!standin::install(sysroot::pppd, "connect\nauth user pw\n")) return {};
  const int port = testkit::freePort();
  e2e::Daemon daemon(KORVEND_SIM_BINARY, root.dir(), {"--port", std::to_string(port)}, root.dir());
  e2e::RawClient c;
  if (!e2e::waitFor([&] { return c.connect(port); }, 10s)) return {};
  const testkit::Bytes ping = encode("{ seq 99, pdu command : ping : NULL }");
  const testkit::Bytes pong = encode("{ seq 99, pdu response : success : NULL }");
  for (int i = 0; i < 8; ++i) {
    const std::string trunk = std::to_string(i + 1), modem = std::to_string(i + 11);
    c.sendPayload(encode("{ seq 1, slot " + trunk + ", pdu command : create : trunk : { trunk 1, timeslot " +
                         std::to_string(i + 1) + " } }"));
    c.sendPayload(encode("{ seq 2, slot " + modem + ", pdu command : create : modem : { cid \"1\", cdid \"\" } }"));
    c.sendPayload(encode("{ seq 3, slot " + trunk + ", pdu command : connect : " + modem + " }"));
  }
  const auto authenticated = [&] {
    const std::string err = daemon.err();
    std::size_t n = 0;
    for (std::size_t at = err.find("incoming auth connection"); at != std::string::npos;
         at = err.find("incoming auth connection", at + 1))
      ++n;
    return n >= 8;
  };
  if (!e2e::waitFor(authenticated, 20s)) {
    std::fprintf(stderr, "the 8 programs did not authenticate\n%s", daemon.err().substr(0, 3000).c_str());
    return {};
  }
  const testkit::Bytes request = plugin::authRequest(0, "eve", "guess");
  std::atomic<bool> stop{false};
  std::thread strangers([&] {
    std::vector<testkit::Client> many(60);
    for (testkit::Client& s : many)
      if (s.connect(52000)) s.write(request);
    for (bool wait = true; !stop; wait = !wait) {
      testkit::Client again;
      if (!again.connect(52000) || !again.write(request)) continue;
      if (wait) again.awaitClose();
    }
  });
  std::vector<double> rtt;
  const auto end = Clock::now() + load;
  while (Clock::now() < end) {
    const auto t = Clock::now();
    c.sendPayload(ping);
    testkit::Bytes got;
    while (c.frame(got, 5s) && got != pong) {
    }
    rtt.push_back(msSince(t));
    std::this_thread::sleep_for(10ms);
  }
  stop = true;
  strangers.join();
  Pings p;
  p.worst = rtt.empty() ? -1 : *std::max_element(rtt.begin(), rtt.end());
  p.median = median(rtt);
  daemon.signal(SIGTERM);
  daemon.wait();
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned idle = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 60000;
  const std::chrono::seconds load(argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5);
  ::signal(SIGPIPE, SIG_IGN);
  const bool own = ::geteuid() == 0 && testkit::enterFreshNetNamespace().empty();
  std::printf("%s\n", own ? "in a network namespace of its own" : "on the host's network (not root)");
  // The idle connections' own ends must leave the server's port free.
  if (own) std::ofstream(std::string(sysroot::proc_dir) + "/" + "sys/net/ipv4/ip_local_reserved_ports") << "52000\n";
  std::setvbuf(stdout, nullptr, _IONBF, 0);

  // Eight idle programs, as the modem slots' would be.
  int hold[2];
  if (::pipe2(hold, O_CLOEXEC) != 0) return 1;
  std::vector<pid_t> programs;
  for (int i = 0; i < 8; ++i) {
    const pid_t p = ::fork();
    if (p < 0) {
      std::perror("auth_peer_bench: fork");
      ::close(hold[1]);
      for (pid_t started : programs) ::waitpid(started, nullptr, 0);
      return 1;
    }
    if (p == 0) {
      char c;
      ::close(hold[1]);
      while (::read(hold[0], &c, 1) > 0) {
      }
      ::_exit(0);
    }
    programs.push_back(p);
  }
  const int server = listener();
  const Lookup none = lookups(server, programs, 200);
  std::unique_ptr<Idle> open(new Idle(idle));
  std::printf("%u idle sockets open\n", open->sockets());
  const Lookup many = lookups(server, programs, 200);
  std::printf("stranger that waits: %.3f ms with none, %.3f ms with them: ratio %.2f\n", none.check, many.check,
              many.check / none.check);
  std::printf("stranger that closes first: %.3f ms with none, %.3f ms with them; against one that waits: ratio %.2f "
              "with none, %.2f with them\n",
              none.closeFirst, many.closeFirst, none.closeFirst / none.check, many.closeFirst / many.check);
  std::printf("socket tables alone (no diagnostics): %.3f ms with none, %.3f ms with them: ratio %.1f\n", none.tables,
              many.tables, many.tables / none.tables);
  // The helpers hold the programs' pipe too.
  open.reset();
  ::close(hold[1]);
  for (pid_t p : programs) ::waitpid(p, nullptr, 0);
  if (!own) return 0;
  const Pings quiet = daemonPings(load);
  open.reset(new Idle(idle));
  const Pings loaded = daemonPings(load);
  open.reset();
  std::printf("controller pings, 8 programs, 60 strangers and a reconnecting client (closing first every other "
              "time) for %ld s:\n",
              static_cast<long>(load.count()));
  std::printf("  no idle sockets: worst %.1f ms, median %.1f ms\n", quiet.worst, quiet.median);
  std::printf("  %u idle sockets: worst %.1f ms, median %.1f ms\n", idle, loaded.worst, loaded.median);
  return quiet.worst < 0 || loaded.worst < 0 ? 1 : 0;
}
