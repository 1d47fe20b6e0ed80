#include "runtime/ini_reader.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace IniFile {
namespace Private {

bool parse_bool(const char* text, bool& value) {
  // Case matters: "Yes" and "on" are refused, so a typo is reported rather
  // than read as a guess.
  static const struct {
    const char* word;
    bool value;
  } words[] = {{"true", true},     {"false", false},  {"yes", true},     {"no", false}, {"enabled", true},
               {"disabled", false}, {"enable", true}, {"disable", false}, {"1", true},   {"0", false}};
  for (const auto& w : words) {
    if (std::strcmp(text, w.word) == 0) {
      value = w.value;
      return true;
    }
  }
  return false;
}

bool parse_number(const char* text, long& value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 0);
  // A number too large for a long would be stored clamped; refuse it.
  if (end == text || *end != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* kv : mKeys) delete kv;
}

bool& Reader::Field::add(Private::KeyValue* kv) {
  mKeys.push_back(kv);
  return kv->parsed;
}

bool Reader::parse(SubSection& block) {
  for (Private::KeyValue* kv : required.keys()) {
    Key& key = block[kv->name()];
    const int n = key.count();
    if (n == 0) {
      mOut << mPrefix << "required key \"" << kv->name() << "\" not present, line " << block.lineNo() << std::endl;
      return false;
    }
    if (n == 1) {
      const SubKey& v = *key.first();
      kv->parsed = kv->do_parse(v.value().c_str());
      if (!kv->parsed) {
        mOut << mPrefix << "required key \"" << kv->name() << "\" has invalid value=\"" << v.value() << "\","
             << " line " << v.lineNo() << std::endl;
        return false;
      }
      continue;
    }
    if (n == 2) {
      mOut << mPrefix << "required key \"" << kv->name() << "\" is duplicated!" << std::endl;
      mOut << mPrefix << " first occurence at " << key.first()->lineNo() << " line." << std::endl;
      mOut << mPrefix << " second occurence at " << key.first()->next()->lineNo() << " line." << std::endl;
      return false;
    }
    mOut << mPrefix << "required key \"" << kv->name() << "\" specified more than once:";
    for (const SubKey& v : key) mOut << ' ' << v.lineNo();
    mOut << " lines" << std::endl;
    return false;
  }

  for (Private::KeyValue* kv : optional.keys()) {
    Key& key = block[kv->name()];
    kv->parsed = false;
    const int n = key.count();
    if (n == 0) continue;
    if (n == 1) {
      const SubKey& v = *key.first();
      kv->parsed = kv->do_parse(v.value().c_str());
      if (!kv->parsed)
        mOut << mPrefix << "optional key \"" << kv->name() << "\" has invalid value=\"" << v.value() << "\","
             << " line " << v.lineNo() << ". Key will be ignored." << std::endl;
      continue;
    }
    if (n == 2) {
      mOut << mPrefix << "optional key \"" << kv->name() << "\" is duplicated!" << std::endl;
      mOut << mPrefix << " first occurence at " << key.first()->lineNo() << " line." << std::endl;
      mOut << mPrefix << " second occurence at " << key.first()->next()->lineNo()
           << " line. Both keys will be ignored." << std::endl;
      continue;
    }
    mOut << mPrefix << "optional key \"" << kv->name() << "\" specified more than once:";
    for (const SubKey& v : key) mOut << ' ' << v.lineNo();
    mOut << " lines." << " All keys will be ignored." << std::endl;
  }
  return true;
}

}  // namespace IniFile
