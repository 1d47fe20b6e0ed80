// A trap with one binding of every value type the builder writes, read by
// two independent decoders: net-snmp's snmptrapd receives it on the
// loopback and logs every binding, and pysnmp decodes the same octets.
#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "monitoring/snmp_trap.h"
#include "tests/loopback_client.h"
#include "tests/runtime/test_process.h"
#include "tests/skip_reason.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char community[] = "korvend-test";

struct Binding {
  std::vector<std::uint32_t> name;
  int type;
  Bytes value;          // as a caller holds it: numbers in native order
  std::string logged;   // what snmptrapd writes for it (-On)
  std::string decoded;  // what decode_trap.py prints for it
};

template <class T>
Bytes native(const std::vector<T>& v) {
  Bytes b(v.size() * sizeof(T));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

// How net-snmp shows time ticks after the number: "[N day(s), ]H:MM:SS.CC".
std::string ticks_text(std::uint32_t ticks) {
  const std::uint32_t days = ticks / 8640000, hours = ticks / 360000 % 24, minutes = ticks / 6000 % 60,
                      seconds = ticks / 100 % 60, centis = ticks % 100;
  char text[64];
  if (days == 0)
    std::snprintf(text, sizeof text, "%u:%02u:%02u.%02u", hours, minutes, seconds, centis);
  else
    std::snprintf(text, sizeof text, "%u day%s, %u:%02u:%02u.%02u", days, days == 1 ? "" : "s", hours, minutes,
                  seconds, centis);
  return text;
}

std::vector<Binding> every_type(std::uint32_t uptime) {
  const std::string up = std::to_string(uptime), text = "hello, operator";
  const std::string e = "1.3.6.1.4.1.99999.";
  auto name = [](std::uint32_t n) { return std::vector<std::uint32_t>{1, 3, 6, 1, 4, 1, 99999, n, 0}; };
  return {
      {{1, 3, 6, 1, 2, 1, 1, 3, 0}, snmp_type_timeticks, native<std::uint32_t>({uptime}),
       ".1.3.6.1.2.1.1.3.0 = Timeticks: (" + up + ") " + ticks_text(uptime), "1.3.6.1.2.1.1.3.0 timeticks " + up},
      {{1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0}, snmp_type_object_id, native<std::uint32_t>({1, 3, 6, 1, 4, 1, 99999, 0, 1}),
       ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.1", "1.3.6.1.6.3.1.1.4.1.0 oid 1.3.6.1.4.1.99999.0.1"},
      {name(2), snmp_type_integer, native<std::int32_t>({-129}), "." + e + "2.0 = INTEGER: -129",
       e + "2.0 integer -129"},
      // BIT STRING content as given, its unused-bits count first; net-snmp
      // shows every content octet, then the numbers of the bits set in them.
      {name(3), snmp_type_bit_string, {0x00, 0xA5, 0x5A}, "." + e + "3.0 = BITS: 00 A5 5A 8 10 13 15 17 19 20 22 ",
       e + "3.0 bits a55a"},
      {name(4), snmp_type_octet_string, Bytes(text.begin(), text.end()), "." + e + "4.0 = STRING: \"" + text + "\"",
       e + "4.0 octets 68656c6c6f2c206f70657261746f72"},
      {name(5), snmp_type_null, {}, "." + e + "5.0 = NULL", e + "5.0 null"},
      {name(6), snmp_type_object_id, native<std::uint32_t>({2, 999, 4294967295u}),
       "." + e + "6.0 = OID: .2.999.4294967295", e + "6.0 oid 2.999.4294967295"},
      {name(64), snmp_type_ip_address, {10, 0, 0, 7}, "." + e + "64.0 = IpAddress: 10.0.0.7",
       e + "64.0 ipaddress 10.0.0.7"},
      {name(65), snmp_type_counter32, native<std::uint32_t>({2147483648u}), "." + e + "65.0 = Counter32: 2147483648",
       e + "65.0 counter32 2147483648"},
      {name(66), snmp_type_gauge32, native<std::uint32_t>({16744448u}), "." + e + "66.0 = Gauge32: 16744448",
       e + "66.0 gauge32 16744448"},
      {name(67), snmp_type_timeticks, native<std::uint32_t>({0}), "." + e + "67.0 = Timeticks: (0) 0:00:00.00",
       e + "67.0 timeticks 0"},
      {name(68), snmp_type_opaque, {0x01, 0x02, 0xFE}, "." + e + "68.0 = OPAQUE: 01 02 FE ", e + "68.0 opaque 0102fe"},
      // net-snmp reads an NsapAddress but has no text for it.
      {name(69), snmp_type_nsap_address, {0x47, 0x00, 0x01}, "." + e + "69.0 = Variable has bad type",
       e + "69.0 nsap 470001"},
      {name(71), snmp_type_uinteger32, native<std::uint32_t>({4294967295u}), "." + e + "71.0 = 4294967295",
       e + "71.0 uinteger32 4294967295"},
  };
}

Bytes build(const std::vector<Binding>& bindings, std::uint32_t* request_id) {
  snmp_trap t;
  snmp_session_seed(&t, 20240);
  if (trap_init(&t, community) != 0 || trap_pack_begin(&t) != 0) return {};
  for (const Binding& b : bindings)
    if (trap_pack_add(&t, b.name.data(), b.name.size(), b.type, b.value.data(), b.value.size()) != 0) return {};
  if (trap_pack_end(&t) != 0) return {};
  *request_id = t.request_id;
  return Bytes(t.buffer, t.buffer + t.length);
}

class TrapOracle : public ::testing::Test {
 protected:
  TrapOracle() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kv-trap.XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  }
  ~TrapOracle() override {
    if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0) testproc::Finish(pid_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  // snmptrapd in the foreground on a free loopback port, with a configuration
  // of its own (the test's community may log), no MIBs and its persistent
  // files in the test's directory. One line per trap: "TRAP <pdu, version,
  // community>; <binding>|<binding>|...". Returns why it cannot run, or "".
  std::string start_snmptrapd() {
    const std::string program = KORVEND_SNMPTRAPD;
    if (program.empty()) return testkit::missing("snmptrapd");
    std::ofstream(dir_ + "/conf") << "authCommunity log " << community << "\n";
    // A port found free may be taken before snmptrapd binds it: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      sockaddr_in a = testkit::loopback(0);
      socklen_t len = sizeof a;
      ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
      ::close(s);
      port_ = ntohs(a.sin_port);
      pid_ = testproc::Spawn({program, "-f", "-Lo", "-C", "-c", dir_ + "/conf", "-m", "", "-M", dir_ + "/no-mibs",
                              "-On", "-n", "-F", "TRAP %P; %V|%v\n", "udp:127.0.0.1:" + std::to_string(port_)},
                             {"SNMP_PERSISTENT_DIR=" + dir_ + "/persist"}, dir_ + "/log", dir_ + "/err");
      // It names its version once it listens.
      auto listens = [&] { return log().find("NET-SNMP version") != std::string::npos; };
      if (pid_ > 0 && testproc::WaitFor([&] { return listens() || !testproc::Alive(pid_); }) && listens()) return "";
      // One that did not listen is stopped, whether or not it still runs.
      if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) testproc::WaitExit(pid_);
      pid_ = -1;
    }
    return "snmptrapd did not start: " + testproc::ReadFile(dir_ + "/err");
  }
  std::string log() const { return testproc::ReadFile(dir_ + "/log"); }

  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

std::string hex(const Bytes& b) {
  std::string s;
  char two[3];
  for (std::uint8_t c : b) s.append(two, static_cast<std::size_t>(std::snprintf(two, sizeof two, "%02x", c)));
  return s;
}

TEST_F(TrapOracle, SnmptrapdLogsEveryBindingOfATrapWithEveryValueType) {
  ASSERT_FALSE(dir_.empty());
  const std::string why_not = start_snmptrapd();
  if (!why_not.empty()) GTEST_SKIP() << why_not;
  const std::vector<Binding> bindings = every_type(get_uptime());
  std::uint32_t request_id = 0;
  const Bytes trap = build(bindings, &request_id);
  ASSERT_FALSE(trap.empty());
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const sockaddr_in to = testkit::loopback(port_);
  ASSERT_EQ(::sendto(s, trap.data(), trap.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(trap.size()));
  ::close(s);

  std::string line;
  testproc::WaitFor([&] {
    const std::string text = log();
    const std::size_t at = text.find("TRAP "), end = text.find('\n', at);
    if (at == std::string::npos || end == std::string::npos) return false;
    line = text.substr(at, end - at);
    return true;
  });
  const std::string head = std::string("TRAP TRAP2, SNMP v2c, community ") + community + "; ";
  ASSERT_EQ(line.compare(0, head.size(), head), 0) << "logged:\n" << log();
  std::istringstream rest(line.substr(head.size()));
  std::size_t i = 0;
  for (std::string logged; std::getline(rest, logged, '|'); ++i) {
    ASSERT_LT(i, bindings.size()) << line;
    EXPECT_EQ(logged, bindings[i].logged) << line;
  }
  EXPECT_EQ(i, bindings.size()) << line;
}

TEST_F(TrapOracle, PysnmpDecodesTheSameOctetsAsAV2cTrapWithTheSameValues) {
  const std::vector<Binding> bindings = every_type(123456);
  std::uint32_t request_id = 0;
  const Bytes trap = build(bindings, &request_id);
  ASSERT_FALSE(trap.empty());
  FILE* p = ::popen((std::string(KORVEND_PYSNMP_PYTHON " " KORVEND_TRAP_DECODER " ") + hex(trap)).c_str(), "r");
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

}  // namespace
