#pragma once
// The build's version record. Its tag is what the start line, the version
// option, the syslog identity and the status dump print.
#include <iosfwd>

class Version {
 public:
  enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  Version(Type type, int number, const char* text, const char* user, const char* date, const char* tag,
          const char* arch);

  // Writes the tag only.
  void put(std::ostream& s) const;
  void update();

  Type type() const { return type_; }
  int number() const { return number_; }
  const char* text() const { return text_; }
  const char* user() const { return user_; }
  const char* date() const { return date_; }
  const char* tag() const { return tag_; }
  const char* arch() const { return arch_; }

  static const Version current;

 private:
  Type type_;
  int number_;
  const char* text_;
  const char* user_;
  const char* date_;
  const char* tag_;
  const char* arch_;
};

std::ostream& operator<<(std::ostream& s, const Version& v);

// "snapshot", "test", "release", "unit-test"; "unknown" otherwise.
const char* version_string(Version::Type type);
// "S", "T", "R", "T" (unit-test shares the test letter); "U" otherwise.
const char* version_suffix(Version::Type type);
std::ostream& operator<<(std::ostream& s, Version::Type type);
