#include "runtime/version.h"

#include <ostream>

#ifndef KORVEND_BUILD_USER
#define KORVEND_BUILD_USER "unknown"
#endif

const Version Version::current(Version::snapshot, 0, "", KORVEND_BUILD_USER, "2025-04-28 20:12", "T250428-2012",
                               "ppc");

Version::Version(Type type, int number, const char* text, const char* user, const char* date, const char* tag,
                 const char* arch)
    : type_(type), number_(number), text_(text), user_(user), date_(date), tag_(tag), arch_(arch) {
  update();
}

void Version::put(std::ostream& s) const { s << tag_; }

void Version::update() {}

std::ostream& operator<<(std::ostream& s, const Version& v) {
  v.put(s);
  return s;
}

const char* version_string(Version::Type type) {
  switch (type) {
    case Version::snapshot:
      return "snapshot";
    case Version::test:
      return "test";
    case Version::release:
      return "release";
    case Version::unit_test:
      return "unit-test";
  }
  return "unknown";
}

const char* version_suffix(Version::Type type) {
  switch (type) {
    case Version::snapshot:
      return "S";
    case Version::test:
    case Version::unit_test:
      return "T";
    case Version::release:
      return "R";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& s, Version::Type type) { return s << version_string(type); }
