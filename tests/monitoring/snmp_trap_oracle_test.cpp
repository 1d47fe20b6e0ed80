// A trap with one binding of every value type the builder writes, read by
// two independent decoders: net-snmp's snmptrapd receives it on the
// loopback and logs every binding, and pysnmp's SNMPv2 types decode the
// same octets with pyasn1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "monitoring/snmp_trap.h"
#include "tests/runtime/test_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char community[] = "korvend-test";

struct Binding {
  std::vector<std::uint32_t> name;
  int type;
  Bytes value;
  std::string logged;   // snmptrapd's text of the binding (-On)
  std::string decoded;  // decode_trap.py's line
};

Bytes u32(std::uint32_t v) {
  Bytes b(4);
  std::memcpy(b.data(), &v, 4);  // native order, as a caller's variable
  return b;
}

Bytes oid_value(const std::vector<std::uint32_t>& c) {
  Bytes b(c.size() * 4);
  std::memcpy(b.data(), c.data(), b.size());
  return b;
}

std::vector<std::uint32_t> enterprise(std::uint32_t n) { return {1, 3, 6, 1, 4, 1, 99999, n, 0}; }

std::vector<Binding> every_type(std::uint32_t uptime) {
  const std::string text = "hello, operator";
  const std::int32_t integer = -129;
  Bytes integer_bytes(4);
  std::memcpy(integer_bytes.data(), &integer, 4);
  const std::string up = std::to_string(uptime);
  return {
      {{1, 3, 6, 1, 2, 1, 1, 3, 0}, snmp_type_timeticks, u32(uptime),
       ".1.3.6.1.2.1.1.3.0 = Timeticks: (" + up + ")", "1.3.6.1.2.1.1.3.0 timeticks " + up},
      {{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, snmp_type_object_id, oid_value({1, 3, 6, 1, 4, 1, 99999, 0, 1}),
       ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.1", "1.3.6.1.6.3.1.1.4.1.0 oid 1.3.6.1.4.1.99999.0.1"},
      {enterprise(2), snmp_type_integer, integer_bytes, ".1.3.6.1.4.1.99999.2.0 = INTEGER: -129",
       "1.3.6.1.4.1.99999.2.0 integer -129"},
      // The caller gives BIT STRING content whole, unused-bits count first.
      {enterprise(3), snmp_type_bit_string, {0x00, 0xA5, 0x5A}, ".1.3.6.1.4.1.99999.3.0 = BITS: 00 A5 5A",
       "1.3.6.1.4.1.99999.3.0 bits a55a"},
      {enterprise(4), snmp_type_octet_string, Bytes(text.begin(), text.end()),
       ".1.3.6.1.4.1.99999.4.0 = STRING: \"hello, operator\"",
       "1.3.6.1.4.1.99999.4.0 octets 68656c6c6f2c206f70657261746f72"},
      {enterprise(5), snmp_type_null, {}, ".1.3.6.1.4.1.99999.5.0 = NULL", "1.3.6.1.4.1.99999.5.0 null"},
      {enterprise(6), snmp_type_object_id, oid_value({2, 999, 4294967295u}),
       ".1.3.6.1.4.1.99999.6.0 = OID: .2.999.4294967295", "1.3.6.1.4.1.99999.6.0 oid 2.999.4294967295"},
      {enterprise(64), snmp_type_ip_address, {10, 0, 0, 7}, ".1.3.6.1.4.1.99999.64.0 = IpAddress: 10.0.0.7",
       "1.3.6.1.4.1.99999.64.0 ipaddress 10.0.0.7"},
      {enterprise(65), snmp_type_counter32, u32(2147483648u), ".1.3.6.1.4.1.99999.65.0 = Counter32: 2147483648",
       "1.3.6.1.4.1.99999.65.0 counter32 2147483648"},
      {enterprise(66), snmp_type_gauge32, u32(16744448u), ".1.3.6.1.4.1.99999.66.0 = Gauge32: 16744448",
       "1.3.6.1.4.1.99999.66.0 gauge32 16744448"},
      {enterprise(67), snmp_type_timeticks, u32(0), ".1.3.6.1.4.1.99999.67.0 = Timeticks: (0)",
       "1.3.6.1.4.1.99999.67.0 timeticks 0"},
      {enterprise(68), snmp_type_opaque, {0x01, 0x02, 0xFE}, ".1.3.6.1.4.1.99999.68.0 = OPAQUE: 01 02 FE",
       "1.3.6.1.4.1.99999.68.0 opaque 0102fe"},
      // net-snmp parses an NsapAddress but has no text for it.
      {enterprise(69), snmp_type_nsap_address, {0x47, 0x00, 0x01},
       ".1.3.6.1.4.1.99999.69.0 = Variable has bad type", "1.3.6.1.4.1.99999.69.0 nsap 470001"},
      {enterprise(71), snmp_type_uinteger32, u32(4294967295u), ".1.3.6.1.4.1.99999.71.0 = 4294967295",
       "1.3.6.1.4.1.99999.71.0 uinteger32 4294967295"},
  };
}

Bytes build(const std::vector<Binding>& bindings, std::uint32_t* request_id) {
  snmp_trap t;
  snmp_session_seed(&t, 20240);
  if (trap_init(&t, community) != 0 || trap_pack_begin(&t) != 0) return {};
  for (const Binding& b : bindings)
    if (trap_pack_add(&t, b.name.data(), b.name.size(), b.type, b.value.empty() ? nullptr : b.value.data(),
                      b.value.size()) != 0)
      return {};
  if (trap_pack_end(&t) != 0) return {};
  *request_id = t.request_id;
  return Bytes(t.buffer, t.buffer + t.length);
}

std::string hex(const Bytes& b) {
  std::string s;
  char two[3];
  for (std::uint8_t c : b) {
    std::snprintf(two, sizeof two, "%02x", c);
    s += two;
  }
  return s;
}

// A UDP port on the loopback that nobody holds right now.
int free_udp_port() {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

bool send_udp(int port, const Bytes& datagram) {
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(port));
  const ssize_t n = ::sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::close(s);
  return n == static_cast<ssize_t>(datagram.size());
}

// snmptrapd in the foreground on a loopback port, with a configuration of
// its own (the community accepted for logging, nothing else), no MIBs, and
// its persistent files in the test's directory. Logs one line per trap:
// "TRAP <pdu, version, community>; <binding>|<binding>|...".
class Snmptrapd {
 public:
  explicit Snmptrapd(const std::string& dir) : dir_(dir) {
    const std::string program = KORVEND_SNMPTRAPD;
    if (program.empty()) {
      why_not_ = "snmptrapd is not installed";
      return;
    }
    std::ofstream(dir_ + "/snmptrapd.conf") << "authCommunity log " << community << "\n";
    // A port picked free may be taken before snmptrapd binds it: try again.
    for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
      port_ = free_udp_port();
      pid_ = testproc::Spawn({program, "-f", "-Lo", "-C", "-c", dir_ + "/snmptrapd.conf", "-m", "", "-M",
                              dir_ + "/no-mibs", "-On", "-n", "-F", "TRAP %P; %V|%v\n",
                              "udp:127.0.0.1:" + std::to_string(port_)},
                             {"SNMP_PERSISTENT_DIR=" + dir_ + "/persist"}, log_path(), dir_ + "/snmptrapd.err");
      // It names its version once it listens.
      const bool up = pid_ > 0 && testproc::WaitFor([&] {
                        return log().find("NET-SNMP version") != std::string::npos || !testproc::Alive(pid_);
                      }) && log().find("NET-SNMP version") != std::string::npos;
      if (!up) stop();
    }
    if (pid_ <= 0) why_not_ = "snmptrapd did not start: " + testproc::ReadFile(dir_ + "/snmptrapd.err");
  }
  ~Snmptrapd() { stop(); }

  const std::string& why_not() const { return why_not_; }
  int port() const { return port_; }
  std::string log() const { return testproc::ReadFile(log_path()); }
  // The first trap line, once it is whole.
  std::string trap_line() const {
    std::string line;
    testproc::WaitFor([&] {
      const std::string text = log();
      const std::size_t at = text.find("TRAP ");
      if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
      line = text.substr(at, text.find('\n', at) - at);
      return true;
    });
    return line;
  }

 private:
  std::string log_path() const { return dir_ + "/snmptrapd.log"; }
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      testproc::WaitExit(pid_);
    }
    pid_ = -1;
  }

  std::string dir_;
  std::string why_not_;
  int port_ = 0;
  pid_t pid_ = -1;
};

class TrapOracle : public ::testing::Test {
 protected:
  TrapOracle() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kv-trap.XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  }
  ~TrapOracle() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  std::string dir_;
};

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

TEST_F(TrapOracle, SnmptrapdLogsEveryBindingOfATrapWithEveryValueType) {
  ASSERT_FALSE(dir_.empty());
  Snmptrapd receiver(dir_);
  if (!receiver.why_not().empty()) GTEST_SKIP() << receiver.why_not();
  const std::vector<Binding> bindings = every_type(get_uptime());
  std::uint32_t request_id = 0;
  const Bytes trap = build(bindings, &request_id);
  ASSERT_FALSE(trap.empty());
  ASSERT_TRUE(send_udp(receiver.port(), trap));

  const std::string line = receiver.trap_line();
  ASSERT_FALSE(line.empty()) << "no trap logged:\n" << receiver.log();
  const std::size_t head_end = line.find("; ");
  ASSERT_NE(head_end, std::string::npos) << line;
  EXPECT_EQ(line.substr(0, head_end), std::string("TRAP TRAP2, SNMP v2c, community ") + community);
  const std::vector<std::string> logged = split(line.substr(head_end + 2), '|');
  ASSERT_EQ(logged.size(), bindings.size()) << line;
  for (std::size_t i = 0; i < bindings.size(); ++i)
    EXPECT_EQ(logged[i].compare(0, bindings[i].logged.size(), bindings[i].logged), 0)
        << "logged \"" << logged[i] << "\", expected it to begin \"" << bindings[i].logged << '"';
}

TEST_F(TrapOracle, PysnmpDecodesTheSameOctetsAsAV2cTrapWithTheSameValues) {
  const std::vector<Binding> bindings = every_type(123456);
  std::uint32_t request_id = 0;
  const Bytes trap = build(bindings, &request_id);
  ASSERT_FALSE(trap.empty());
  const std::string command = std::string(KORVEND_PYSNMP_PYTHON) + " " + KORVEND_TRAP_DECODER + " " + hex(trap);
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) text += buf;
  const int status = ::pclose(p);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << text;
  ASSERT_EQ(status, 0) << text;

  std::string expected = std::string("version 1\ncommunity ") + community + "\npdu snmpV2-trap\nrequest-id " +
                         std::to_string(request_id) + "\nerror-status 0\nerror-index 0\n";
  for (const Binding& b : bindings) expected += b.decoded + "\n";
  EXPECT_EQ(text, expected);
}

// The decoder is strict enough to tell: a message whose outer length is one
// short does not decode.
TEST_F(TrapOracle, PysnmpRefusesAMessageWhoseLengthIsWrong) {
  std::uint32_t request_id = 0;
  Bytes trap = build(every_type(1), &request_id);
  ASSERT_GT(trap.size(), 4u);
  trap[3] = static_cast<std::uint8_t>(trap[3] - 1);
  const std::string command =
      std::string(KORVEND_PYSNMP_PYTHON) + " " + KORVEND_TRAP_DECODER + " " + hex(trap) + " >" + sysroot::dev_null;
  const int status = std::system(command.c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "pysnmp is not installed";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace
