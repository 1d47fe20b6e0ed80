#include "asn1/sequence_of.h"

#include "asn1/visitor.h"

namespace ASN1 {

SEQUENCE_OF_Base::SEQUENCE_OF_Base(const SEQUENCE_OF_Base& o) : ConstrainedObject(o) {
  Container copy;
  copy.reserve(o.container_.size());
  try {
    for (AbstractData* e : o.container_) copy.push_back(e ? e->clone() : nullptr);
  } catch (...) {
    for (AbstractData* e : copy) delete e;
    throw;
  }
  container_.swap(copy);
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(const SEQUENCE_OF_Base& o) {
  if (this != &o) {
    SEQUENCE_OF_Base tmp(o);
    swap(tmp);
  }
  return *this;
}

void SEQUENCE_OF_Base::clear() {
  for (AbstractData* e : container_) delete e;
  container_.clear();
}

AbstractData* SEQUENCE_OF_Base::append() {
  const void* ei = elementInfo();
  // Room first, so that the push cannot fail after the element exists;
  // doubling, so that a list built one element at a time is not copied
  // at each step.
  if (container_.size() == container_.capacity()) container_.reserve(container_.empty() ? 4 : 2 * container_.size());
  AbstractData* e = typeInfo(ei)->create(ei);
  container_.push_back(e);
  return e;
}

void SEQUENCE_OF_Base::resize(unsigned n) {
  if (n >= container_.size()) {
    container_.reserve(n);
    while (container_.size() < n) append();
  } else {
    erase(n, unsigned(container_.size()));
  }
}

void SEQUENCE_OF_Base::insert(unsigned pos, unsigned count, const AbstractData& proto) {
  Container copies;
  copies.reserve(count);
  try {
    for (unsigned i = 0; i < count; ++i) copies.push_back(proto.clone());
    container_.insert(container_.begin() + pos, copies.begin(), copies.end());
  } catch (...) {
    for (AbstractData* e : copies) delete e;
    throw;
  }
}

void SEQUENCE_OF_Base::insert(unsigned pos, const AbstractData* const* first, const AbstractData* const* last) {
  Container copies;
  copies.reserve(std::size_t(last - first));
  try {
    for (; first != last; ++first) copies.push_back((*first)->clone());
    container_.insert(container_.begin() + pos, copies.begin(), copies.end());
  } catch (...) {
    for (AbstractData* e : copies) delete e;
    throw;
  }
}

void SEQUENCE_OF_Base::erase(unsigned first, unsigned last) {
  if (last > container_.size()) last = unsigned(container_.size());
  if (first >= last) return;
  for (unsigned i = first; i < last; ++i) delete container_[i];
  container_.erase(container_.begin() + first, container_.begin() + last);
}

int SEQUENCE_OF_Base::do_compare(const AbstractData& other) const {
  const SEQUENCE_OF_Base& o = static_cast<const SEQUENCE_OF_Base&>(other);
  size_t n = std::min(container_.size(), o.container_.size());
  for (size_t i = 0; i < n; ++i) {
    int r = container_[i]->compare(*o.container_[i]);
    if (r) return r;
  }
  return compare3(container_.size(), o.container_.size());
}
bool SEQUENCE_OF_Base::do_accept(Visitor& v) { return v.do_visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
