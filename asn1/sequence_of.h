// SEQUENCE OF and SET OF: an owned list of element values.
#pragma once

#include <iterator>
#include <vector>

#include <boost/cast.hpp>

#include "asn1/scalar.h"

namespace ASN1 {

class SEQUENCE_OF_Base : public ConstrainedObject, public detail::Allocator<SEQUENCE_OF_Base> {
  ASN1_VALUE_CLASS_MEMBERS(SEQUENCE_OF_Base)
  typedef std::vector<AbstractData*> Container;

  explicit SEQUENCE_OF_Base(const void* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(const SEQUENCE_OF_Base& o);
  SEQUENCE_OF_Base& operator=(const SEQUENCE_OF_Base& o);
  ~SEQUENCE_OF_Base() override { clear(); }
  void swap(SEQUENCE_OF_Base& o) { container_.swap(o.container_); }

  const SequenceOfInfo* info() const { return static_cast<const SequenceOfInfo*>(getInfo()); }
  const void* elementInfo() const { return info()->elementInfo; }
  unsigned size() const { return unsigned(container_.size()); }
  bool empty() const { return container_.empty(); }
  void clear();
  // Grows with elements built from the element descriptor, or shrinks.
  void resize(unsigned n);
  // Appends a new element built from the element descriptor.
  AbstractData* append();
  // Appends a copy of x.
  void push_back_copy(const AbstractData& x) { container_.push_back(x.clone()); }
  // Inserts count copies of proto before pos.
  void insert(unsigned pos, unsigned count, const AbstractData& proto);
  // Inserts a copy of each value of [first, last) before pos.
  void insert(unsigned pos, const AbstractData* const* first, const AbstractData* const* last);
  void erase(unsigned first, unsigned last);
  const Container& elements() const { return container_; }
  AbstractData* at(unsigned i) { return container_[i]; }
  const AbstractData* at(unsigned i) const { return container_[i]; }

 private:
  Container container_;
};

struct EmptyConstraint {
  enum { type = Unconstrained };
  static const int lower = 0;
  static const unsigned upper = UnboundedUpper;
};

template <ConstraintType Kind, int Lower, unsigned Upper>
struct SizeConstraint {
  enum { type = Kind };
  static const int lower = Lower;
  static const unsigned upper = Upper;
};

// Typed view of the elements: every element is built from T's descriptor,
// so it is an object of class T.
template <class T, class Constraint, uint32_t Tag>
class SEQUENCE_OF_Template : public SEQUENCE_OF_Base {
 public:
  typedef T value_type;
  static AbstractData* create(const void* info) { return new SEQUENCE_OF_Template(info); }
  static AbstractData* make_copy(const AbstractData& o) {
    return new SEQUENCE_OF_Template(static_cast<const SEQUENCE_OF_Base&>(o));
  }
  // After create and make_copy: an in-class initializer sees only what is
  // declared before it.
  static inline const SequenceOfInfo theInfo = {
      {{&SEQUENCE_OF_Template::create, Tag, &SEQUENCE_OF_Template::make_copy},
       uint32_t(Constraint::type),
       Constraint::lower,
       Constraint::upper},
      &T::theInfo};
  SEQUENCE_OF_Template() : SEQUENCE_OF_Base(&theInfo) {}
  explicit SEQUENCE_OF_Template(const void* info) : SEQUENCE_OF_Base(info) {}
  explicit SEQUENCE_OF_Template(const SEQUENCE_OF_Base& o) : SEQUENCE_OF_Base(o) {}

  template <class Ptr, class Ref, class Base>
  class iter_base {
   public:
    typedef std::random_access_iterator_tag iterator_category;
    typedef T value_type;
    typedef std::ptrdiff_t difference_type;
    typedef Ptr pointer;
    typedef Ref reference;
    iter_base() {}
    explicit iter_base(Base it) : it_(it) {}
    // iterator to const_iterator
    template <class P2, class R2>
    iter_base(const iter_base<P2, R2, Base>& o) : it_(o.base()) {}
    Ref operator*() const { return *boost::polymorphic_downcast<Ptr>(*it_); }
    Ptr operator->() const { return boost::polymorphic_downcast<Ptr>(*it_); }
    iter_base& operator++() {
      ++it_;
      return *this;
    }
    iter_base operator++(int) { return iter_base(it_++); }
    iter_base& operator--() {
      --it_;
      return *this;
    }
    iter_base operator+(difference_type n) const { return iter_base(it_ + n); }
    difference_type operator-(const iter_base& o) const { return it_ - o.it_; }
    bool operator==(const iter_base& o) const { return it_ == o.it_; }
    bool operator!=(const iter_base& o) const { return it_ != o.it_; }
    Base base() const { return it_; }

   private:
    Base it_;
  };
  typedef iter_base<T*, T&, Container::const_iterator> iterator;
  typedef iter_base<const T*, const T&, Container::const_iterator> const_iterator;

  iterator begin() { return iterator(elements().begin()); }
  iterator end() { return iterator(elements().end()); }
  const_iterator begin() const { return const_iterator(elements().begin()); }
  const_iterator end() const { return const_iterator(elements().end()); }
  T& operator[](unsigned i) { return *boost::polymorphic_downcast<T*>(at(i)); }
  const T& operator[](unsigned i) const { return *boost::polymorphic_downcast<const T*>(at(i)); }
  void push_back(const T& x) { push_back_copy(x); }
  // Appends a new element and returns it for filling in place.
  T& push_back() { return *boost::polymorphic_downcast<T*>(append()); }
  void erase(iterator it) {
    unsigned i = unsigned(it.base() - elements().begin());
    SEQUENCE_OF_Base::erase(i, i + 1);
  }
  using SEQUENCE_OF_Base::erase;
};

template <class T, class Constraint = EmptyConstraint>
using SEQUENCE_OF = SEQUENCE_OF_Template<T, Constraint, 16>;
template <class T, class Constraint = EmptyConstraint>
using SET_OF = SEQUENCE_OF_Template<T, Constraint, 17>;

}  // namespace ASN1
