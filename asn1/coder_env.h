// The coder environment: which encoding rule turns a value into octets and
// back. ASN1::encode and ASN1::decode are the only way to the coders.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include <loki/AssocVector.h>

#include "asn1/abstract_data.h"
#include "asn1/module.h"

namespace ASN1 {

class CoderEnv {
 public:
  enum EncodingRule {
    avn = 0,   // value notation
    ber = 1,   // basic encoding rules, definite lengths
    per_Aligned = 2,
    per_Unaligned = 3
  };

  struct StringListeralCmp {
    typedef const char* first_argument_type;
    typedef const char* second_argument_type;
    typedef bool result_type;
    bool operator()(const char* a, const char* b) const { return std::strcmp(a, b) < 0; }
  };
  typedef Loki::AssocVector<const char*, const Module*, StringListeralCmp> ModuleTable;

  explicit CoderEnv(uint32_t rule = per_Aligned) : encodingRule_(rule) {}

  uint32_t getEncodingRule() const { return encodingRule_; }
  void set_encodingRule(uint32_t rule) { encodingRule_ = rule; }

  // Appends the encoding to out only when the whole value encodes.
  template <class OutputIterator>
  bool encode(const AbstractData& value, OutputIterator out) {
    std::vector<char> buf;
    buf.reserve(256);
    if (!encodeAppend(value, buf)) return false;
    std::copy(buf.begin(), buf.end(), out);
    return true;
  }
  // The usual caller's form: straight into its vector, no private copy.
  bool encode(const AbstractData& value, std::back_insert_iterator<std::vector<char> > out) {
    return encodeAppend(value, BackInsertAccess::of(out));
  }
  // The encoding of value replaces the contents of buf; false (buf left
  // empty) on failure.
  bool encodeInto(const AbstractData& value, std::vector<char>& buf) {
    buf.clear();
    return encodeAppend(value, buf);
  }
  // Appends the encoding to buf; on failure buf is as it was.
  bool encodeAppend(const AbstractData& value, std::vector<char>& buf);
  // Decodes first..last into value; octets after the value are ignored.
  // With hide, nested decoders are not handed this environment. A failed
  // decode leaves the value partly filled.
  bool decode(const char* first, const char* last, AbstractData& value, bool hide = true);

  // Modules reachable by name (the codec tool finds types through them).
  void insert(const Module& m) { modules_[m.name()] = &m; }
  const Module* find(const char* moduleName) const {
    ModuleTable::const_iterator it = modules_.find(moduleName);
    return it == modules_.end() ? nullptr : it->second;
  }
  const ModuleTable& modules() const { return modules_; }

 private:
  // Reaches the vector behind a back_insert_iterator (its protected member).
  struct BackInsertAccess : std::back_insert_iterator<std::vector<char> > {
    static std::vector<char>& of(std::back_insert_iterator<std::vector<char> > it) {
      return *(it.*(&BackInsertAccess::container));
    }
  };

  uint32_t encodingRule_;
  ModuleTable modules_;
};

template <class OutputIterator>
inline bool encode(const AbstractData& value, CoderEnv* env, OutputIterator out) {
  return env->encode(value, out);
}

inline bool decode(const char* first, const char* last, CoderEnv* env, AbstractData& value, bool hide = true) {
  return env->decode(first, last, value, hide);
}

}  // namespace ASN1
