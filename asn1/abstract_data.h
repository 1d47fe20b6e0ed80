// Root of the ASN.1 value model. Every value points at the constant
// descriptor of its type; coders and the value-notation printer are visitors
// that walk the value and its descriptor together. Nothing in this layer
// throws (except std::bad_alloc) or logs: failures are false results.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "asn1/type_info.h"

namespace ASN1 {

class Visitor;
class ConstVisitor;

class AbstractData {
 public:
  virtual ~AbstractData() {}

  // Three-way comparison with a value of the same type (same descriptor).
  int compare(const AbstractData& other) const { return do_compare(other); }
  // Deep copy; the copy is an object of this value's own class.
  AbstractData* clone() const { return do_clone(); }
  bool accept(Visitor& v) { return do_accept(v); }
  bool accept(ConstVisitor& v) const { return do_accept(v); }

  // Whether a peer that knows the type's extensions accepts the value
  // (values beyond an extensible constraint, extension alternatives), and
  // whether it keeps to the root of every type. Defined with the checkers.
  bool isValid() const;
  bool isStrictlyValid() const;

  const void* getInfo() const { return info_; }
  uint32_t getTag() const { return typeInfo(info_)->tag; }

  // Value notation (the log form of every message).
  std::string asValueNotation() const;
  bool setFromValueNotation(const std::string& text);
  // Stream-state bits to raise: 0 on success, failbit otherwise.
  int print_on(std::ostream& os) const;
  int get_from(std::istream& is);

  bool operator==(const AbstractData& o) const { return compare(o) == 0; }
  bool operator!=(const AbstractData& o) const { return compare(o) != 0; }
  bool operator<(const AbstractData& o) const { return compare(o) < 0; }

 protected:
  explicit AbstractData(const void* info) : info_(info) {}
  AbstractData(const AbstractData& other) : info_(other.info_) {}
  // Assignment copies contents only: a value's descriptor never changes.
  AbstractData& operator=(const AbstractData&) { return *this; }

  virtual int do_compare(const AbstractData& other) const = 0;
  virtual AbstractData* do_clone() const;
  virtual bool do_accept(Visitor& v) = 0;
  virtual bool do_accept(ConstVisitor& v) const = 0;

 private:
  const void* info_;
};

// Printing into a log stream never leaves it failed: a value that cannot be
// printed whole is shown as far as it goes and the stream stays good, so
// later lines still reach it. print_on() tells a caller that needs to know.
std::ostream& operator<<(std::ostream& os, const AbstractData& value);
// Reading sets failbit when the text is not a value of the type.
std::istream& operator>>(std::istream& is, AbstractData& value);

// Bits that hold every number of a range of v values; v = 0 stands for the
// full 2^32 range.
unsigned CountBits(unsigned v);

int lexicographic_compare_bytes(const unsigned char* first1, const unsigned char* last1,
                                const unsigned char* first2, const unsigned char* last2);

// Three-way comparison that never overflows.
template <class T>
inline int compare3(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// Limits the decoders enforce (writable: a program may tune them).
extern unsigned MaximumArraySize;   // elements of a list, extension bits
extern unsigned MaximumStringSize;  // octets, characters or bits

}  // namespace ASN1
