#include "runtime/ini_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The model in one line: "[name]@line key=value@line ...", sections in list
// order, each followed by its blocks.
std::string Shape(const IniFile::File& f) {
  std::string out;
  for (const IniFile::Section& s : f) {
    for (const IniFile::SubSection& b : s) {
      if (!out.empty()) out += ' ';
      out += "[" + s.name() + "]@" + std::to_string(b.lineNo());
      for (const IniFile::Key& k : b)
        for (const IniFile::SubKey& v : k) out += " " + k.name() + "=" + v.value() + "@" + std::to_string(v.lineNo());
    }
  }
  return out;
}

std::string Parse(const std::string& text) {
  IniFile::File f;
  std::istringstream in(text);
  in >> f;
  EXPECT_TRUE(f.isOpen());
  return Shape(f);
}

struct ParseCase {
  const char* what;
  const char* text;
  const char* shape;
};

const ParseCase kParseCases[] = {
    {"plain entry", "[a]\nk = v\n", "[a]@1 k=v@2"},
    {"last line without line feed counts", "[a]\nk = v", "[a]@1 k=v@2"},
    {"last line of a key and equals alone counts, empty", "[a]\nk =", "[a]@1 k=@2"},
    {"outer blanks dropped, inner blanks kept", "[a]\n  my key  =  two  words   # note\n", "[a]@1 my key=two  words@2"},
    {"hash glued to a value belongs to it", "[a]\nk = v#x\n", "[a]@1 k=v#x@2"},
    {"hash after equals and blanks leaves the value empty", "[a]\nk =   # c\n", "[a]@1 k=@2"},
    {"value may hold an equals sign", "[a]\nk = a=b\n", "[a]@1 k=a=b@2"},
    {"line without equals is ignored, the next is read",
     "[a]\nword\n# c = 1\nk=v\n[b]\nlone\n[c]\n",
     "[a]@1 k=v@4 [b]@5 [c]@7"},
    {"blanks around a header name are part of it", "[ traces ]\nk=v\n", "[ traces ]@1 k=v@2"},
    {"unterminated header drops entries until the next header", "[a\nk=v\n[b]\nx=1\n", "[b]@3 x=1@4"},
    {"after an unterminated header a bracket mid-line opens a header", "[a\nk=v[b] rest\nx=1", "[b]@2 x=1@3"},
    {"text after the closing bracket is ignored", "[a] junk = 1\nk=v", "[a]@1 k=v@2"},
    {"entries before the first header are ignored", "k=v\n# c\n[a]\nx=1", "[a]@3 x=1@4"},
    {"a bracket before the first header opens one there", "k=[a]\nx=1", "[a]@1 x=1@2"},
    {"repeated header is one section with two blocks", "[a]\nk=1\n[b]\n[a]\nk=2\n",
     "[a]@1 k=1@2 [a]@4 k=2@5 [b]@3"},
    {"repeated key is one key with two values in line order", "[a]\nk=1\nj=x\nk=2\n", "[a]@1 k=1@2 k=2@4 j=x@3"},
    {"CR LF line ends read as LF alone", "[a]\r\nk = v \r\n\r\nj=w\r\n", "[a]@1 k=v@2 j=w@4"},
    {"carriage returns vanish anywhere", "[a\r]\nk\r = v\rw\n", "[a]@1 k=vw@2"},
    {"a tab is not a blank inside a key", "[a]\nk\t= v\n", "[a]@1 k\t=v@2"},
    {"a tab right after equals starts the value", "[a]\nk =\tv\n", "[a]@1 k=\tv@2"},
    {"a tab before a hash does not start a comment", "[a]\nk = v\t#x\n", "[a]@1 k=v\t#x@2"},
    {"a line starting with equals names no key", "[a]\n = v\nk=1\n", "[a]@1 k=1@3"},
    {"names are case-sensitive", "[A]\nK=1\n[a]\nk=2\n", "[A]@1 K=1@2 [a]@3 k=2@4"},
    {"no text at all", "", ""},
};

TEST(IniParser, StateTableCases) {
  for (const ParseCase& c : kParseCases) EXPECT_EQ(Parse(c.text), c.shape) << c.what;
}

std::string TempFile(const std::string& content) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kv-ini.XXXXXX").string();
  int fd = ::mkstemp(tmpl.data());
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  ::close(fd);
  return tmpl;
}

TEST(IniFile, OpenReadsFileBytesAsTheyAreAndAMissingFileReadsEmpty) {
  const std::string name = TempFile("[traces]\r\nsignalling.hdlc = yes\r\n");
  IniFile::File f;
  EXPECT_TRUE(f.Open(name));
  EXPECT_EQ(Shape(f), "[traces]@1 signalling.hdlc=yes@2");
  std::filesystem::remove(name);

  EXPECT_FALSE(f.Open((std::filesystem::temp_directory_path() / "kv-no-such-dir" / "server.conf").string()));
  EXPECT_FALSE(f.isOpen());
  EXPECT_EQ(f.count(), 0);
  IniFile::Section& s = f["snmpagent"];
  EXPECT_EQ(s.count(), 0);
  EXPECT_EQ(&f["snmpagent"], &s);  // the lookup made it once
  EXPECT_EQ(f.count(), 1);
}

TEST(IniFile, ReopenReplacesTheModel) {
  IniFile::File f;
  std::istringstream one("[a]\nk=1\n");
  one >> f;
  EXPECT_EQ(f.count(), 1);
  std::istringstream two("[b]\nk=2\n[c]\n");
  two >> f;
  EXPECT_EQ(Shape(f), "[b]@1 k=2@2 [c]@3");
  EXPECT_EQ(f["a"].count(), 0);
  f.Close();
  EXPECT_FALSE(f.isOpen());
  EXPECT_EQ(f.count(), 0);
}

TEST(IniFile, CountsFollowTheListsAndIteratorsWalkThem) {
  IniFile::File f;
  std::istringstream in("[a]\nk=1\nk=2\nj=3\n[a]\n");
  in >> f;
  IniFile::Section& a = f["a"];
  ASSERT_EQ(a.count(), 2);
  IniFile::SubSection& b = *a.first();
  EXPECT_EQ(b.count(), 2);
  EXPECT_EQ(b["k"].count(), 2);
  auto it = b["k"].begin();
  EXPECT_EQ((it++)->value(), "1");
  EXPECT_EQ(it->value(), "2");
  ++it;
  ++it;  // stays at the end
  EXPECT_TRUE(it == b["k"].end());
  // Fillers for levels that are looked at but empty.
  a.last()->operator[]("x").CheckEmpty();
  EXPECT_EQ(a.last()->operator[]("x").first()->lineNo(), -1);
  EXPECT_EQ(a.last()->operator[]("x").first()->value(), "");
  f["none"].CheckEmpty();
  EXPECT_EQ(f["none"].first()->lineNo(), -1);
}

// The debug listing: each level's lines, then its children in list order.
TEST(IniFile, DumpListsEveryLevel) {
  const std::string name = TempFile("[a]\nk = v\nk = w\n");
  IniFile::File f(name);
  std::filesystem::remove(name);
  std::ostringstream out;
  f.Dump(out);
  EXPECT_EQ(out.str(),
            "dumping IniFile::File\n"
            "mFileName=\"" + name + "\"\n"
            "\n"
            "mSectionCount=1\n"
            "dumping IniFile::Section\n"
            "mName=\"a\"\n"
            "mSubSectionCount=1\n"
            "dumping IniFile::SubSection\n"
            "mLineNo=\"1\"\n"
            "mKeyCount=1\n"
            "dumping IniFile::Key\n"
            "mName=\"k\"\n"
            "mSubKeyCount=2\n"
            "dumping IniFile::SubKey\n"
            "mValue=\"v\"\n"
            "mLineNo=2\n"
            "dumping IniFile::SubKey\n"
            "mValue=\"w\"\n"
            "mLineNo=3\n");
}

TEST(IniSubKey, TypedViews) {
  struct {
    const char* text;
    int asBool;  // -1: the default
  } bools[] = {{"true", 1}, {"no", 0}, {"1", 1}, {"on", 1}, {"off", 0}, {"YES", -1}, {"enabled", -1}, {"", -1}, {"yes ", -1}};
  for (const auto& b : bools) {
    IniFile::SubKey v(b.text, 1);
    EXPECT_EQ(v.GetBool(false), b.asBool == 1) << b.text;
    EXPECT_EQ(v.GetBool(true), b.asBool != 0) << b.text;
  }
  IniFile::SubKey k("", 1);
  k.SetBool(false);
  EXPECT_EQ(k.value(), "no");
  EXPECT_EQ(IniFile::SubKey(" 42abc", 1).GetInt(7), 42);
  EXPECT_EQ(IniFile::SubKey("x1", 1).GetInt(7), 7);
  EXPECT_EQ(IniFile::SubKey("99999999999", 1).GetInt(7), 7);
  k.SetInt(-120);
  EXPECT_EQ(k.value(), "-120");
  EXPECT_FLOAT_EQ(IniFile::SubKey("2.5e1x", 1).GetFloat(1.f), 25.f);
  EXPECT_FLOAT_EQ(IniFile::SubKey("abc", 1).GetFloat(1.5f), 1.5f);
  k.SetFloat(3.14159265f);
  EXPECT_EQ(k.value(), "3.14159");
}

}  // namespace
