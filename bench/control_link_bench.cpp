// Round trips of `ping` on one controller connection of korvend-sim against
// redis-server's PING, measured in the same run by the same lean client: one
// blocking socket with no delay, the requests of a batch written at once,
// the fixed-size replies counted and checked octet by octet. At depth 1 a
// batch is one request; at depth 16 sixteen requests are in flight. Both
// servers run side by side and are measured in alternating rounds, so that
// a change in the machine's load weighs on both; each rate is the median of
// the rounds. Prints the rates, their ratios, and each server's resident
// memory at the end (after more than a million pings).
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

#include <algorithm>
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

struct Server {
  pid_t pid = -1;
  int socket = -1;
  std::string request, reply;
  std::vector<double> depth1, depth16;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
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
  Server korvend, redis;
  korvend.request.assign("\x03\x00\x00\x06\x06\x00", 6);
  korvend.reply.assign("\x03\x00\x00\x05\x10", 5);
  redis.request = "PING\r\n";
  redis.reply = "+PONG\r\n";
  const int kport = freePort(), rport = freePort();
  korvend.pid =
      start({KORVEND_SIM_BINARY, "--port", std::to_string(kport)}, "KORVEND_ROOT=" + root, root + "/korvend.log");
  redis.pid = start(
      {"redis-server", "--port", std::to_string(rport), "--save", "", "--appendonly", "no", "--bind", "127.0.0.1"}, "",
      root + "/redis.log");
  korvend.socket = connectTo(kport);
  redis.socket = connectTo(rport);
  bool ok = korvend.socket >= 0 && redis.socket >= 0;
  for (Server* s : {&korvend, &redis})
    if (ok) ok = measure(s->socket, s->request, s->reply, 1, 10000) > 0;  // warm-up
  const unsigned rounds = 5;
  for (unsigned r = 0; ok && r < rounds; ++r)
    for (Server* s : {&korvend, &redis}) {
      s->depth1.push_back(measure(s->socket, s->request, s->reply, 1, n1 / rounds));
      s->depth16.push_back(measure(s->socket, s->request, s->reply, 16, n16 / rounds / 16 * 16));
      ok = s->depth1.back() > 0 && s->depth16.back() > 0;
    }
  const long krss = residentKiB(korvend.pid), rrss = residentKiB(redis.pid);
  for (Server* s : {&korvend, &redis}) {
    if (s->socket >= 0) ::close(s->socket);
    if (s->pid > 0) stop(s->pid);
  }
  std::filesystem::remove_all(root);
  if (!ok) {
    std::fprintf(stderr, "control_link_bench: a run failed (is redis-server installed?)\n");
    return 1;
  }
  const double k1 = median(korvend.depth1), k16 = median(korvend.depth16);
  const double r1 = median(redis.depth1), r16 = median(redis.depth16);
  std::printf("ping round trips per second, one connection (%u at depth 1, %u at depth 16, %u rounds)\n", n1, n16,
              rounds);
  std::printf("%-22s %14s %14s %8s %s\n", "", "korvend-sim", "redis-server", "ratio", "goal");
  std::printf("%-22s %14.0f %14.0f %7.2fx %s\n", "depth 1", k1, r1, k1 / r1, ">= 1.0x");
  std::printf("%-22s %14.0f %14.0f %7.2fx %s\n", "depth 16 (pipelined)", k16, r16, k16 / r16, ">= 0.5x");
  std::printf("resident memory after %u pings each: korvend-sim %ld KiB, redis-server %ld KiB\n", 10000 + n1 + n16,
              krss, rrss);
  return 0;
}
