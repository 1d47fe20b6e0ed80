// Scalar value classes: NULL, BOOLEAN, INTEGER (plain, with named numbers,
// constrained) and ENUMERATED.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "asn1/abstract_data.h"
#include "asn1/allocator.h"

namespace ASN1 {

// Declares what every concrete value class has: its create and copy
// functions for the descriptor and the visitor entry points.
#define ASN1_VALUE_CLASS_MEMBERS(Class)                                       \
 public:                                                                      \
  static AbstractData* create(const void* info) { return new Class(info); }  \
  static AbstractData* make_copy(const AbstractData& o) {                     \
    return new Class(static_cast<const Class&>(o));                           \
  }                                                                           \
                                                                              \
 protected:                                                                   \
  int do_compare(const AbstractData& other) const override;                  \
  bool do_accept(Visitor& v) override;                                        \
  bool do_accept(ConstVisitor& v) const override;                             \
                                                                              \
 public:

class Null : public AbstractData, public detail::Allocator<Null> {
  ASN1_VALUE_CLASS_MEMBERS(Null)
  static const TypeInfo theInfo;
  explicit Null(const void* info = &theInfo) : AbstractData(info) {}
};

class BOOLEAN : public AbstractData, public detail::Allocator<BOOLEAN> {
  ASN1_VALUE_CLASS_MEMBERS(BOOLEAN)
  static const TypeInfo theInfo;
  explicit BOOLEAN(const void* info = &theInfo) : AbstractData(info), value_(false) {}
  BOOLEAN(bool v, const void* info) : AbstractData(info), value_(v) {}
  BOOLEAN& operator=(bool v) {
    value_ = v;
    return *this;
  }
  bool getValue() const { return value_; }
  void setValue(bool v) { value_ = v; }
  operator bool() const { return value_; }

 private:
  bool value_;
};

// Base of the kinds whose descriptor carries a value or size constraint.
class ConstrainedObject : public AbstractData {
 public:
  const ConstrainedInfo* info() const { return static_cast<const ConstrainedInfo*>(getInfo()); }
  ConstraintType constraintType() const { return ConstraintType(info()->constraintType); }
  bool extendable() const { return info()->constraintType == ExtendableConstraint; }
  int32_t getLowerLimit() const { return info()->lowerLimit; }
  uint32_t getUpperLimit() const { return info()->upperLimit; }

 protected:
  explicit ConstrainedObject(const void* info) : AbstractData(info) {}
};

class INTEGER : public ConstrainedObject, public detail::Allocator<INTEGER> {
  ASN1_VALUE_CLASS_MEMBERS(INTEGER)
  static const ConstrainedInfo theInfo;
  explicit INTEGER(const void* info = &theInfo) : ConstrainedObject(info), value_(0) {}
  INTEGER(int v, const void* info) : ConstrainedObject(info), value_(v) {}
  INTEGER& operator=(int v) {
    value_ = v;
    return *this;
  }
  INTEGER& operator=(unsigned v) {
    value_ = int32_t(v);
    return *this;
  }
  int getValue() const { return value_; }
  // The value as the constraint reads it: unsigned when the lower bound is
  // 0 or more (INTEGER (0..4294967295) holds values of 2^31 and above).
  int64_t getWideValue() const;
  void setValue(int v) { value_ = v; }
  void setValue(unsigned v) { value_ = int32_t(v); }
  // True when the lower bound of a constrained type is 0 or more.
  bool isUnsigned() const { return constraintType() != Unconstrained && getLowerLimit() >= 0; }

 private:
  int32_t value_;
};

class IntegerWithNamedNumber : public INTEGER {
 public:
  static AbstractData* create(const void* info) { return new IntegerWithNamedNumber(info); }
  static AbstractData* make_copy(const AbstractData& o) {
    return new IntegerWithNamedNumber(static_cast<const IntegerWithNamedNumber&>(o));
  }
  explicit IntegerWithNamedNumber(const void* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int v, const void* info) : INTEGER(v, info) {}
  const IntegerWithNamedNumberInfo* info() const {
    return static_cast<const IntegerWithNamedNumberInfo*>(getInfo());
  }
  // The name of the value, null when it has none.
  const char* getName() const;
  bool getName(std::string& name) const;
  bool setFromName(const std::string& name);

 protected:
  bool do_accept(Visitor& v) override;
  bool do_accept(ConstVisitor& v) const override;
};

template <ConstraintType Kind, int Lower, unsigned Upper>
class Constrained_INTEGER : public INTEGER {
 public:
  typedef typename std::conditional<(Lower >= 0), unsigned, int>::type value_type;
  static AbstractData* create(const void* info) { return new Constrained_INTEGER(info); }
  static AbstractData* make_copy(const AbstractData& o) {
    return new Constrained_INTEGER(static_cast<const INTEGER&>(o));
  }
  // After create and make_copy: an in-class initializer sees only what is
  // declared before it.
  static inline const ConstrainedInfo theInfo = {
      {&Constrained_INTEGER::create, 2, &Constrained_INTEGER::make_copy}, Kind, Lower, Upper};
  Constrained_INTEGER() : INTEGER(&theInfo) {}
  explicit Constrained_INTEGER(const void* info) : INTEGER(info) {}
  explicit Constrained_INTEGER(const INTEGER& o) : INTEGER(o) {}
  Constrained_INTEGER& operator=(value_type v) {
    setValue(v);
    return *this;
  }
  value_type getValue() const { return value_type(INTEGER::getValue()); }
};

class ENUMERATED : public AbstractData, public detail::Allocator<ENUMERATED> {
  ASN1_VALUE_CLASS_MEMBERS(ENUMERATED)
  explicit ENUMERATED(const void* info) : AbstractData(info), value_(0) {}
  ENUMERATED(const ENUMERATED& o) : AbstractData(o), value_(o.value_) {}
  ENUMERATED& operator=(const ENUMERATED& o) {
    value_ = o.value_;
    return *this;
  }
  const EnumeratedInfo* info() const { return static_cast<const EnumeratedInfo*>(getInfo()); }
  int getValue() const { return value_; }
  void setValue(int v) { value_ = v; }
  int getMaximum() const { return info()->maxValue; }
  bool extendable() const { return info()->extendable; }
  bool isStrictlyValid() const { return value_ <= getMaximum(); }
  // The enumerator's name for the value, null when no enumerator has it
  // (the first name wins where values repeat).
  const char* getName() const;
  // Sets the value of the named enumerator; false when there is none.
  bool setFromName(const std::string& name);

 private:
  int32_t value_;
};

}  // namespace ASN1
