// Round trips of `ping` on one controller connection of korvend-sim against
// redis-server's PING, measured in the same run by the same lean client: one
// blocking socket with no delay, the requests of a batch written at once,
// the fixed-size replies counted and checked octet by octet. At depth 1 a
// batch is one request; at depth 16 sixteen requests are in flight. Prints
// the rates, their ratios, and each server's resident memory at the end
// (after more than a million pings).
//
//   control_link_bench [pings-at-depth-1 [pings-at-depth-16]]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sysroot.h"

namespace {

using Clock = std::chrono::steady_clock;

int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

pid_t start(const std::vector<std::string>& argv, const std::string& env, const std::string& log) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (!env.empty()) ::putenv(const_cast<char*>(env.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

void stop(pid_t pid) {
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

// Connects, retrying for a few seconds while the server starts.
int connectTo(int port) {
  const auto end = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < end) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const int on = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return s;
    }
    ::close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

// Round trips per second over `count` requests, `depth` in flight; 0 when a
// reply differs from the expected one or the connection fails.
double measure(int s, const std::string& request, const std::string& reply, unsigned depth, unsigned count) {
  std::string batch;
  for (unsigned i = 0; i < depth; ++i) batch += request;
  std::vector<char> buf(65536);
  const auto t0 = Clock::now();
  for (unsigned done = 0; done < count; done += depth) {
    if (::write(s, batch.data(), batch.size()) != static_cast<ssize_t>(batch.size())) return 0;
    std::size_t want = reply.size() * depth, got = 0;
    while (got < want) {
      const ssize_t n = ::read(s, buf.data(), std::min(buf.size(), want - got));
      if (n <= 0) return 0;
      for (ssize_t i = 0; i < n; ++i)
        if (buf[static_cast<std::size_t>(i)] != reply[(got + static_cast<std::size_t>(i)) % reply.size()]) return 0;
      got += static_cast<std::size_t>(n);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return count / seconds;
}

long residentKiB(pid_t pid) {
  std::ifstream status(std::string(sysroot::proc_dir) + "/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

struct Figures {
  double depth1 = 0, depth16 = 0;
  long rss = -1;
};

Figures run(pid_t server, int port, const std::string& request, const std::string& reply, unsigned n1, unsigned n16) {
  Figures f;
  const int s = connectTo(port);
  if (s < 0) return f;
  measure(s, request, reply, 1, 10000);  // warm-up
  f.depth1 = measure(s, request, reply, 1, n1);
  f.depth16 = measure(s, request, reply, 16, n16);
  f.rss = residentKiB(server);
  ::close(s);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned n1 = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 200000;
  const unsigned n16 = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) / 16 * 16 : 1000000;
  ::signal(SIGPIPE, SIG_IGN);

  std::string tmpl = (std::filesystem::temp_directory_path() / "kvbench.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) return 1;
  const std::string root = tmpl;
  for (const char* fixed : {sysroot::run_dir, sysroot::status_dump, sysroot::watchdog}) {
    const std::filesystem::path p = root + fixed;
    std::filesystem::create_directories(std::string(fixed).back() == '/' ? p : p.parent_path());
  }
  std::ofstream(root + sysroot::watchdog).flush();

  // ping without seq (06 00), answered success (10); redis's inline PING.
  const std::string ping("\x03\x00\x00\x06\x06\x00", 6), success("\x03\x00\x00\x05\x10", 5);
  const int kport = freePort();
  const pid_t korvend = start({KORVEND_SIM_BINARY, "--port", std::to_string(kport)}, "KORVEND_ROOT=" + root,
                              root + "/korvend.log");
  const Figures k = run(korvend, kport, ping, success, n1, n16);
  stop(korvend);

  const int rport = freePort();
  const pid_t redis = start({"redis-server", "--port", std::to_string(rport), "--save", "", "--appendonly", "no",
                             "--bind", "127.0.0.1"},
                            "", root + "/redis.log");
  const Figures r = run(redis, rport, "PING\r\n", "+PONG\r\n", n1, n16);
  stop(redis);
  std::filesystem::remove_all(root);

  if (k.depth1 == 0 || r.depth1 == 0) {
    std::fprintf(stderr, "control_link_bench: a run failed (korvend-sim %s, redis-server %s)\n",
                 k.depth1 == 0 ? "failed" : "ok", r.depth1 == 0 ? "failed or missing" : "ok");
    return 1;
  }
  std::printf("ping round trips per second, one connection (%u at depth 1, %u at depth 16)\n", n1, n16);
  std::printf("%-22s %14s %14s %8s %s\n", "", "korvend-sim", "redis-server", "ratio", "goal");
  std::printf("%-22s %14.0f %14.0f %7.2fx %s\n", "depth 1", k.depth1, r.depth1, k.depth1 / r.depth1, ">= 1.0x");
  std::printf("%-22s %14.0f %14.0f %7.2fx %s\n", "depth 16 (pipelined)", k.depth16, r.depth16, k.depth16 / r.depth16,
              ">= 0.5x");
  std::printf("resident memory after %u pings: korvend-sim %ld KiB, redis-server %ld KiB\n", 10000 + n1 + n16, k.rss,
              r.rss);
  return 0;
}
