#include "asn1/scalar.h"

#include <cstring>

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo Null::theInfo = {&Null::create, 5, &Null::make_copy};
const TypeInfo BOOLEAN::theInfo = {&BOOLEAN::create, 1, &BOOLEAN::make_copy};
const ConstrainedInfo INTEGER::theInfo = {{&INTEGER::create, 2, &INTEGER::make_copy}, Unconstrained, 0, UnboundedUpper};

int Null::do_compare(const AbstractData&) const { return 0; }
bool Null::do_accept(Visitor& v) { return v.do_visit(*this); }
bool Null::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

int BOOLEAN::do_compare(const AbstractData& other) const {
  return int(value_) - int(static_cast<const BOOLEAN&>(other).value_);
}
bool BOOLEAN::do_accept(Visitor& v) { return v.do_visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

int64_t INTEGER::getWideValue() const { return isUnsigned() ? int64_t(uint32_t(value_)) : int64_t(value_); }

int INTEGER::do_compare(const AbstractData& other) const {
  return compare3(getWideValue(), static_cast<const INTEGER&>(other).getWideValue());
}
bool INTEGER::do_accept(Visitor& v) { return v.do_visit(*this); }
bool INTEGER::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

const char* IntegerWithNamedNumber::getName() const {
  const IntegerWithNamedNumberInfo* inf = info();
  // The table is in ascending value order.
  uint32_t lo = 0, hi = inf->entryCount;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (inf->namedNumbers[mid].value < getValue())
      lo = mid + 1;
    else
      hi = mid;
  }
  if (lo < inf->entryCount && inf->namedNumbers[lo].value == getValue()) return inf->namedNumbers[lo].name;
  return nullptr;
}

bool IntegerWithNamedNumber::getName(std::string& name) const {
  const char* n = getName();
  if (!n) return false;
  name = n;
  return true;
}

bool IntegerWithNamedNumber::setFromName(const std::string& name) {
  const IntegerWithNamedNumberInfo* inf = info();
  for (uint32_t i = 0; i < inf->entryCount; ++i) {
    if (name == inf->namedNumbers[i].name) {
      setValue(int(inf->namedNumbers[i].value));
      return true;
    }
  }
  return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& v) { return v.do_visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

const char* ENUMERATED::getName() const {
  const EnumeratedInfo* inf = info();
  for (uint32_t i = 0; i < inf->nameCount; ++i) {
    if (inf->names[i].value == value_) return inf->names[i].name;
  }
  return nullptr;
}

bool ENUMERATED::setFromName(const std::string& name) {
  const EnumeratedInfo* inf = info();
  for (uint32_t i = 0; i < inf->nameCount; ++i) {
    if (name == inf->names[i].name) {
      value_ = inf->names[i].value;
      return true;
    }
  }
  return false;
}

int ENUMERATED::do_compare(const AbstractData& other) const {
  return compare3(value_, static_cast<const ENUMERATED&>(other).value_);
}
bool ENUMERATED::do_accept(Visitor& v) { return v.do_visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
