#include "runtime/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runtime/ini_file.h"

namespace {

enum AddrType : int { kIpv4 = 1, kIpv6 = 2, kDns = 3 };
const IniFile::Symbol<AddrType> kAddrNames[] = {{"ipv4", kIpv4}, {"ipv6", kIpv6}, {"dns", kDns}, {nullptr, kIpv4}};

enum Small : unsigned char { kSmallZero = 0 };

// A block of text under one header, parsed into a file the test keeps.
struct Block {
  explicit Block(const std::string& body, const char* header = "[s]\n") {
    std::istringstream in(header + body);
    in >> file;
  }
  IniFile::SubSection& first() { return *file["s"].first(); }
  IniFile::File file;
};

TEST(IniReaderWords, BoolWordsAreExactAndCaseSensitive) {
  struct {
    const char* text;
    int value;  // -1: refused
  } cases[] = {{"true", 1},   {"no", 0},     {"enabled", 1}, {"disable", 0}, {"1", 1},     {"0", 0},
               {"on", -1},    {"True", -1},  {"", -1},       {"yes#c", -1},  {"01", -1},   {" yes", -1}};
  for (const auto& c : cases) {
    bool v = true;
    const bool ok = IniFile::Private::parse_bool(c.text, v);
    EXPECT_EQ(ok, c.value >= 0) << c.text;
    // A refused word leaves the target alone.
    EXPECT_EQ(v, c.value != 0) << c.text;
  }
}

TEST(IniReaderWords, EnumerationsTakeNamesThenWholeNumbers) {
  struct {
    const char* text;
    bool ok;
    int stored;  // the target after the call; it starts at kDns
  } cases[] = {{"ipv6", true, 2},     {"dns", true, 3},      {"IPV6", false, 3}, {"0x10", true, 16},
               {"010", true, 8},      {"-1", true, -1},      {" 5", true, 5},    {"12ab", false, 3},
               {"", false, 3},        {"0x", false, 3},      {"5 ", false, 3},   {"4294967296", false, 3},
               {"99999999999999999999", false, 3}};
  for (const auto& c : cases) {
    AddrType t = kDns;
    IniFile::Private::TKeyValue<AddrType> kv(&t, "name", kAddrNames);
    EXPECT_EQ(kv.do_parse(c.text), c.ok) << c.text;
    EXPECT_EQ(static_cast<int>(t), c.stored) << c.text;
  }
  // Without a table (or with an empty one) only numbers are read.
  AddrType t = kIpv4;
  IniFile::Private::TKeyValue<AddrType> bare(&t, "name", nullptr);
  EXPECT_FALSE(bare.do_parse("ipv6"));
  EXPECT_TRUE(bare.do_parse("2"));
  EXPECT_EQ(t, kIpv6);
  // A number outside the enumeration's own type is refused, not wrapped.
  Small s = kSmallZero;
  IniFile::Private::TKeyValue<Small> small(&s, "small", nullptr);
  EXPECT_TRUE(small.do_parse("255"));
  EXPECT_EQ(static_cast<int>(s), 255);
  EXPECT_FALSE(small.do_parse("256"));
  EXPECT_FALSE(small.do_parse("-1"));
  EXPECT_EQ(static_cast<int>(s), 255);
}

struct ReportCase {
  const char* what;
  const char* body;  // under "[s]" on line 1
  bool required;     // the key "k" (a bool) is required; else optional
  bool result;
  int parsed;  // the key's flag after parse
  int value;   // the target after parse (starts at 1 = true)
  const char* report;
};

const ReportCase kReportCases[] = {
    {"required present", "k = no\n", true, true, 1, 0, ""},
    {"required missing", "j = no\n", true, false, 0, 1, "p: required key \"k\" not present, line 1\n"},
    {"required invalid", "k = on\n", true, false, 0, 1, "p: required key \"k\" has invalid value=\"on\", line 2\n"},
    {"required twice", "k = no\nk = no\n", true, false, 0, 1,
     "p: required key \"k\" is duplicated!\n"
     "p:  first occurence at 2 line.\n"
     "p:  second occurence at 3 line.\n"},
    {"required thrice", "k=0\nx=1\nk=0\nk=0\n", true, false, 0, 1,
     "p: required key \"k\" specified more than once: 2 4 5 lines\n"},
    {"optional present", "k = disabled\n", false, true, 1, 0, ""},
    {"optional missing keeps the caller's value", "j = no\n", false, true, 0, 1, ""},
    {"optional invalid", "\nk = on\n", false, true, 0, 1,
     "p: optional key \"k\" has invalid value=\"on\", line 3. Key will be ignored.\n"},
    {"optional empty value is invalid", "k =\n", false, true, 0, 1,
     "p: optional key \"k\" has invalid value=\"\", line 2. Key will be ignored.\n"},
    {"optional twice", "k = no\nk = no\n", false, true, 0, 1,
     "p: optional key \"k\" is duplicated!\n"
     "p:  first occurence at 2 line.\n"
     "p:  second occurence at 3 line. Both keys will be ignored.\n"},
    {"optional thrice", "k=0\nk=0\nk=0\n", false, true, 0, 1,
     "p: optional key \"k\" specified more than once: 2 3 4 lines. All keys will be ignored.\n"},
    {"undeclared keys are not reported", "zz = whatever\nk = yes\n", false, true, 1, 1, ""},
    {"a key differing in case is another key", "K = no\n", false, true, 0, 1, ""},
};

TEST(IniReader, ReportsAndResults) {
  for (const ReportCase& c : kReportCases) {
    Block b(c.body);
    std::ostringstream out;
    IniFile::Reader r("p: ", out);
    bool k = true;
    bool& parsed = c.required ? r.required.add(&k, "k") : r.optional.add(&k, "k");
    EXPECT_EQ(r.parse(b.first()), c.result) << c.what;
    EXPECT_EQ(parsed, c.parsed == 1) << c.what;
    EXPECT_EQ(k, c.value == 1) << c.what;
    EXPECT_EQ(out.str(), c.report) << c.what;
  }
}

TEST(IniReader, FirstRequiredFaultStopsTheCheck) {
  Block b("name = ipv6\nhost = a\nhost = b\nopt = no\n");
  std::ostringstream out;
  IniFile::Reader r("snmpagent: ", out);
  std::string name = "unset", host = "unset";
  AddrType type = kIpv4;
  bool opt = true;
  bool& nameOk = r.required.add(&name, "name");
  bool& hostOk = r.required.add(&host, "host");
  bool& typeOk = r.required.add(&type, "name", kAddrNames);
  bool& optOk = r.optional.add(&opt, "opt");
  EXPECT_FALSE(r.parse(b.first()));
  EXPECT_TRUE(nameOk);
  EXPECT_EQ(name, "ipv6");  // parsed before the fault, kept
  EXPECT_FALSE(hostOk);
  EXPECT_EQ(host, "unset");
  EXPECT_FALSE(typeOk);  // never looked at
  EXPECT_EQ(type, kIpv4);
  EXPECT_FALSE(optOk);
  EXPECT_TRUE(opt);
  EXPECT_EQ(out.str(),
            "snmpagent: required key \"host\" is duplicated!\n"
            "snmpagent:  first occurence at 3 line.\n"
            "snmpagent:  second occurence at 4 line.\n");
}

TEST(IniReader, OneKeyMayFeedTwoTargets) {
  Block b("name = dns\n");
  std::ostringstream out;
  IniFile::Reader r("p: ", out);
  std::string name;
  AddrType type = kIpv4;
  r.required.add(&name, "name");
  r.required.add(&type, "name", kAddrNames);
  EXPECT_TRUE(r.parse(b.first()));
  EXPECT_EQ(name, "dns");
  EXPECT_EQ(type, kDns);
  EXPECT_EQ(out.str(), "");
}

TEST(IniReader, HeaderlessBlockReportsLineMinusOne) {
  IniFile::File f;
  IniFile::Section& s = f["snmpagent"];
  s.CheckEmpty();
  std::ostringstream out;
  IniFile::Reader r("snmpagent: ", out);
  std::string host;
  r.required.add(&host, "host");
  EXPECT_FALSE(r.parse(*s.first()));
  EXPECT_EQ(out.str(), "snmpagent: required key \"host\" not present, line -1\n");
  // The lookup left an empty key behind.
  EXPECT_EQ(s.first()->count(), 1);
  EXPECT_EQ(s.first()->first()->name(), "host");
}

// A descriptor made by the caller is owned by the reader.
struct CountingKey : IniFile::Private::KeyValue {
  explicit CountingKey(int* dtors) : dtors(dtors) {}
  ~CountingKey() override { ++*dtors; }
  const char* name() const override { return "k"; }
  bool do_parse(const char* text) override { return std::string(text) == "ok"; }
  int* dtors;
};

TEST(IniReader, OwnsHandMadeDescriptors) {
  int dtors = 0;
  {
    Block b("k = ok\n");
    std::ostringstream out;
    IniFile::Reader r("p: ", out);
    bool& ok = r.optional.add(new CountingKey(&dtors));
    EXPECT_TRUE(r.parse(b.first()));
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(dtors, 1);
}

}  // namespace
