// tshark, an independent TPKT decoder, reads a loopback capture of a
// controller session back into exactly the frames the test sent and the
// daemon answered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using namespace std::chrono_literals;
using e2e::hex;

std::string run(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  ::pclose(p);
  return out;
}

bool haveTool(const std::string& name) { return run("command -v " + name + " 2>/dev/null") != ""; }

// "srcport<TAB>length<TAB>payload" for every TPKT frame in the capture but
// the signals the daemon sends of its own accord (the trunks' status).
std::string frames(const std::string& capture, int port) {
  const std::string p = std::to_string(port);
  const std::string all = run("tshark -r " + capture + " -d tcp.port==" + p + ",tpkt --disable-protocol cotp" +
                              " -T fields -e tcp.srcport -e tpkt.length -e data.data 2>/dev/null | awk -F'\\t' '$2 != \"\"'");
  std::string kept;
  std::size_t at = 0;
  for (std::size_t end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = all.substr(at, end + 1 - at);
    if (line.rfind(p + "\t", 0) == 0 && e2e::isSignal(hex(line.substr(line.rfind('\t') + 1)))) continue;
    kept += line;
  }
  return kept;
}

TEST(TpktCapture, TsharkReadsTheSessionBackIntoTheSameFrames) {
  if (::geteuid() != 0) GTEST_SKIP() << "capturing on the loopback needs root";
  if (!haveTool("dumpcap") || !haveTool("tshark")) GTEST_SKIP() << "dumpcap or tshark is not installed";
  e2e::Root root;
  const int port = e2e::freePort();
  e2e::Daemon daemon(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir());

  const std::string capture = root.dir() + "/session.pcapng";
  const std::string dumpErr = root.dir() + "/dumpcap.err";
  const int probePort = e2e::freePort();
  const pid_t dumpcap = ::fork();
  if (dumpcap == 0) {
    const int err = ::open(dumpErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, 1);
    ::dup2(err, 2);
    const std::string filter = "tcp port " + std::to_string(port) + " or udp port " + std::to_string(probePort);
    ::execlp("dumpcap", "dumpcap", "-i", "lo", "-f", filter.c_str(), "-w", capture.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // dumpcap reports that it captures before its filter is in place, and
  // writes packets out in blocks, a block once a while has passed: a
  // datagram sent until the capture file grows proves that everything sent
  // before it is in the file.
  int status = 0;
  const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<unsigned short>(probePort));
  auto captureSize = [&] {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(capture, ec);
    return ec ? std::uintmax_t(0) : size;
  };
  bool exited = false;
  auto grows = [&](std::uintmax_t from) {
    return e2e::waitFor(
               [&] {
                 if (::waitpid(dumpcap, &status, WNOHANG) == dumpcap) return exited = true;
                 if (from != 0 && captureSize() > from) return true;
                 ::sendto(probe, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                 return false;
               },
               15s) &&
           !exited;
  };
  const bool opened = e2e::waitFor(
      [&] {
        return (e2e::readFile(dumpErr).find("Capturing on") != std::string::npos && captureSize() > 0) ||
               ::waitpid(dumpcap, &status, WNOHANG) == dumpcap;
      },
      10s);
  if (!opened || captureSize() == 0 || !grows(captureSize())) {
    if (!exited) {
      ::kill(dumpcap, SIGKILL);
      ::waitpid(dumpcap, &status, 0);
    }
    ::close(probe);
    GTEST_SKIP() << "dumpcap could not capture on the loopback: " << e2e::readFile(dumpErr);
  }

  e2e::RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return c.connect(port); })) << daemon.err();
  const std::string me = std::to_string(c.localPort());
  const std::string it = std::to_string(port);
  std::string expected;
  auto exchange = [&](const std::string& request, const std::string& reply) {
    const e2e::Bytes payload = hex(request);
    c.sendPayload(payload);
    EXPECT_EQ(c.replyHex(), reply);
    auto compact = [](const std::string& h) {
      std::string out;
      for (char ch : h)
        if (ch != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      return out;
    };
    expected += me + "\t" + std::to_string(payload.size() + 4) + "\t" + compact(request) + "\n";
    expected += it + "\t" + std::to_string(hex(reply).size() + 4) + "\t" + compact(reply) + "\n";
  };
  exchange("80 01 07 18", "80 01 07 40");
  exchange("06 00", "10");
  exchange("C0 01 03 00 05 18", "C0 01 03 00 05 40");
  exchange("40 04 00 18", "18 80");
  exchange("80 01 09 40", "80 01 09 64");
  // A frame written one octet at a time: tshark reassembles it.
  for (unsigned char b : e2e::tpkt(hex("80 01 0B 18"))) c.write({b});
  EXPECT_EQ(c.replyHex(), "80 01 0B 40");
  expected += me +
              "\t8\t8001"
              "0b18\n" +
              it +
              "\t8\t8001"
              "0b40\n";

  EXPECT_TRUE(grows(captureSize()));
  ::close(probe);
  ::kill(dumpcap, SIGINT);
  ::waitpid(dumpcap, &status, 0);
  EXPECT_EQ(frames(capture, port), expected) << e2e::readFile(dumpErr) << run("tshark -r " + capture + " 2>&1");
}

}  // namespace
