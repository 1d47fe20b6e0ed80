#include "runtime/ini_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace IniFile {

// ---- SubKey

bool SubKey::GetBool(bool def) const {
  static const struct {
    const char* word;
    bool value;
  } words[] = {{"true", true}, {"false", false}, {"yes", true}, {"no", false},
               {"1", true},    {"0", false},     {"on", true},  {"off", false}};
  for (const auto& w : words)
    if (mValue == w.word) return w.value;
  return def;
}

void SubKey::SetBool(bool v) { mValue = v ? "yes" : "no"; }

int SubKey::GetInt(int def) const {
  // A leading decimal number, as a "%d" scan reads it; trailing text is
  // ignored. A number that does not fit an int reads as def rather than as
  // whatever the conversion would wrap to.
  const char* s = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  return static_cast<int>(v);
}

void SubKey::SetInt(int v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

float SubKey::GetFloat(float def) const {
  const char* s = mValue.c_str();
  char* end = nullptr;
  float v = std::strtof(s, &end);
  return end == s ? def : v;
}

void SubKey::SetFloat(float v) {
  std::ostringstream os;
  os << v;
  mValue = os.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey\n"
     << "mValue=\"" << mValue << "\"\n"
     << "mLineNo=" << mLineNo << "\n";
}

// ---- Key

SubKey* Key::NewSubKey(const std::string& value, int line) { return mSubKeys.append(new SubKey(value, line)); }

void Key::CheckEmpty() {
  if (mSubKeys.count() == 0) NewSubKey(std::string(), -1);
}

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubKeyCount=" << mSubKeys.count() << "\n";
  for (const SubKey& sk : *this) sk.Dump(os);
}

// ---- SubSection

Key& SubSection::operator[](const std::string& name) {
  auto it = mIndex.find(name);
  if (it != mIndex.end()) return *it->second;
  Key* k = mKeys.append(new Key(name));
  mIndex.emplace(name, k);
  return *k;
}

Key* SubSection::NewKey(const std::string& name) { return mKeys.append(new Key(name)); }

SubKey* SubSection::NewSubKey(const std::string& keyName, const std::string& value, int line) {
  return (*this)[keyName].NewSubKey(value, line);
}

void SubSection::CleanKeys() {
  mIndex.clear();
  mKeys.clear();
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection\n"
     << "mLineNo=\"" << mLineNo << "\"\n"
     << "mKeyCount=" << mKeys.count() << "\n";
  for (const Key& k : *this) k.Dump(os);
}

// ---- Section

SubSection* Section::NewSubSection(int line) { return mSubSections.append(new SubSection(line)); }

void Section::CheckEmpty() {
  if (mSubSections.count() == 0) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubSectionCount=" << mSubSections.count() << "\n";
  for (const SubSection& ss : *this) ss.Dump(os);
}

// ---- File

File::~File() {
  Close();
  CleanSections();
}

bool File::Open(const std::string& name) {
  Close();
  mFileName = name;
  std::ifstream in(name, std::ios::in | std::ios::binary);
  if (!in.is_open()) return mOpen;
  IntOpenStream(in);
  return mOpen;
}

void File::Close() {
  if (!mOpen) return;
  CleanSections();
  mOpen = false;
}

Section& File::operator[](const std::string& name) {
  auto it = mIndex.find(name);
  if (it != mIndex.end()) return *it->second;
  Section* s = mSections.append(new Section(name));
  mIndex.emplace(name, s);
  return *s;
}

Section* File::NewSection(const std::string& name) { return mSections.append(new Section(name)); }

SubSection* File::NewSubSection(const std::string& name, int line) { return (*this)[name].NewSubSection(line); }

void File::CleanSections() {
  mIndex.clear();
  mSections.clear();
}

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File\n"
     << "mFileName=\"" << mFileName << "\"\n"
     << "\n"
     << "mSectionCount=" << mSections.count() << "\n";
  for (const Section& s : *this) s.Dump(os);
}

std::istream& operator>>(std::istream& is, File& f) {
  f.Close();
  f.mFileName.clear();
  f.IntOpenStream(is);
  return is;
}

// The text syntax, one byte at a time. Only the space (32) is a blank inside
// keys and values: a tab there is an ordinary character, so an operator who
// writes "key<TAB>= yes" has named another key. Carriage returns vanish
// everywhere, so files edited on either kind of system read the same, and
// line numbers count line feeds only.
void File::IntOpenStream(std::istream& is) {
  enum State {
    BeforeSection,  // nothing is stored until the first header
    InSectionName,
    AfterHeader,  // the rest of the header line is ignored
    LineStart,
    InKey,
    AfterEquals,
    InValue,
  };
  State state = BeforeSection;
  int line = 1;
  bool comment = false;
  std::string section, key, value;
  int blanks = 0;
  SubSection* current = nullptr;

  auto store = [&] {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  std::streambuf* sb = is.rdbuf();
  for (int ci = sb ? sb->sbumpc() : std::char_traits<char>::eof(); ci != std::char_traits<char>::eof();
       ci = sb->sbumpc()) {
    const char c = std::char_traits<char>::to_char_type(ci);
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    switch (state) {
      case BeforeSection:
        if (c == '#') {
          comment = true;
        } else if (c == '[') {
          section.clear();
          state = InSectionName;
        }
        break;
      case InSectionName:
        if (c == '\n') {
          state = BeforeSection;
        } else if (c == ']') {
          current = NewSubSection(section, line);
          state = AfterHeader;
        } else {
          section += c;
        }
        break;
      case AfterHeader:
        if (c == '\n')
          state = LineStart;
        else if (c == '#')
          comment = true;
        break;
      case LineStart:
        if (c == '#') {
          comment = true;
        } else if (c == '\t' || c == '\n' || c == ' ') {
        } else if (c == '[') {
          section.clear();
          state = InSectionName;
        } else {
          key.assign(1, c);
          blanks = 0;
          state = InKey;
        }
        break;
      case InKey:
        if (c == ' ') {
          ++blanks;
        } else if (c == '=') {
          value.clear();
          state = AfterEquals;
        } else if (c == '\n') {
          key.clear();
          blanks = 0;
          state = LineStart;
        } else {
          key.append(blanks, ' ');
          blanks = 0;
          key += c;
        }
        break;
      case AfterEquals:
        if (c == ' ') {
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          store();
          state = LineStart;
        } else {
          value += c;
          blanks = 0;
          state = InValue;
        }
        break;
      case InValue:
        if (c == ' ') {
          ++blanks;
        } else if (c == '\n') {
          store();
          state = LineStart;
        } else if (c == '#' && blanks > 0) {
          comment = true;
          blanks = 0;
        } else {
          value.append(blanks, ' ');
          blanks = 0;
          value += c;
        }
        break;
    }
    if (c == '\n') ++line;
  }
  // A last entry without a final line feed still counts.
  if (state == AfterEquals || state == InValue) store();
  is.setstate(std::ios::eofbit);
  mOpen = true;
}

}  // namespace IniFile
