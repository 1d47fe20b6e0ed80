#pragma once
// Typed checking of one configuration block. A caller declares the keys it
// expects (required or optional) with a target for each value, then parse()
// writes every valid value into its target and reports, on the given stream,
// what was missing, invalid or written more than once, with the lines of the
// file. A block is never rejected for keys it does not expect.
#include <cstring>
#include <iosfwd>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/ini_file.h"

namespace IniFile {

// One row of a caller's name table for an enumeration; a table ends with a
// row whose name is null.
template <class T>
struct Symbol {
  const char* name;
  T value;
};

namespace Private {

// One expected key: its name and how its text becomes a value.
class KeyValue {
 public:
  KeyValue() = default;
  virtual ~KeyValue() = default;
  KeyValue(const KeyValue&) = delete;
  KeyValue& operator=(const KeyValue&) = delete;

  virtual const char* name() const = 0;
  // Writes the target only when the text is valid.
  virtual bool do_parse(const char* text) = 0;

  bool parsed = false;
};

// The words a configuration may use for a switch, matched exactly.
bool parse_bool(const char* text, bool& value);
// A whole integer text in C notation (decimal, 0x hexadecimal, 0 octal).
bool parse_number(const char* text, long& value);

// Enumerations: a name from the caller's table, else a number. The type
// should have a fixed underlying type so that numbers outside the named
// values can be stored; a number outside that type is refused.
template <class T>
class TKeyValue : public KeyValue {
  static_assert(std::is_enum<T>::value, "a configuration value is a bool, a text or an enumeration");

 public:
  TKeyValue(T* target, const char* name, const Symbol<T>* table) : mTarget(target), mName(name), mTable(table) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override {
    if (mTable && mTable[0].name) {
      for (const Symbol<T>* s = mTable; s->name; ++s) {
        if (std::strcmp(s->name, text) == 0) {
          *mTarget = s->value;
          return true;
        }
      }
    }
    long n = 0;
    if (!parse_number(text, n) || !fits(n)) return false;
    *mTarget = static_cast<T>(n);
    return true;
  }

 private:
  static bool fits(long n) {
    using U = typename std::underlying_type<T>::type;
    if (std::is_signed<U>::value)
      return static_cast<long long>(n) >= static_cast<long long>(std::numeric_limits<U>::min()) &&
             static_cast<long long>(n) <= static_cast<long long>(std::numeric_limits<U>::max());
    return n >= 0 && static_cast<unsigned long long>(n) <= static_cast<unsigned long long>(std::numeric_limits<U>::max());
  }

  T* mTarget;
  const char* mName;
  const Symbol<T>* mTable;
};

template <>
class TKeyValue<bool> : public KeyValue {
 public:
  TKeyValue(bool* target, const char* name, const Symbol<bool>* = nullptr) : mTarget(target), mName(name) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override { return parse_bool(text, *mTarget); }

 private:
  bool* mTarget;
  const char* mName;
};

template <>
class TKeyValue<std::string> : public KeyValue {
 public:
  TKeyValue(std::string* target, const char* name, const Symbol<std::string>* = nullptr)
      : mTarget(target), mName(name) {}
  const char* name() const override { return mName; }
  bool do_parse(const char* text) override {
    *mTarget = text;
    return true;
  }

 private:
  std::string* mTarget;
  const char* mName;
};

}  // namespace Private

class Reader {
 public:
  // The expected keys of one kind, checked in the order they were added.
  class Field {
   public:
    Field() = default;
    ~Field();
    Field(const Field&) = delete;
    Field& operator=(const Field&) = delete;

    // The returned flag tells, after parse(), whether the key was present
    // exactly once with a valid value. Target and name must outlive parse().
    template <class T>
    bool& add(T* target, const char* name, const Symbol<T>* table = nullptr) {
      return add(new Private::TKeyValue<T>(target, name, table));
    }
    // Takes ownership of the descriptor.
    bool& add(Private::KeyValue* kv);

    const std::vector<Private::KeyValue*>& keys() const { return mKeys; }

   private:
    std::vector<Private::KeyValue*> mKeys;
  };

  // Every report line starts with prefix and goes to out.
  Reader(const std::string& prefix, std::ostream& out) : mPrefix(prefix), mOut(out) {}

  // False at the first fault of a required key (later keys are then not
  // looked at); faults of optional keys are reported and skipped. Looking
  // keys up adds empty keys to the block for the declared names it lacks.
  bool parse(SubSection& block);

  Field required;
  Field optional;

 private:
  std::string mPrefix;
  std::ostream& mOut;
};

}  // namespace IniFile
