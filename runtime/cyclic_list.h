#pragma once
// Intrusive circular doubly linked list. A list is a sentinel link; an empty
// list's sentinel, and an element in no list, point to themselves both ways.
// Elements embed a CyclicList member and are found back from it with offset().
#include <cstddef>

namespace Containers {

class CyclicList {
 public:
  CyclicList() { InternalInit(); }
  CyclicList(const CyclicList&) = delete;
  CyclicList& operator=(const CyclicList&) = delete;

  void InternalInit() { next = prev = this; }

  // Joins prev and next, taking out whatever stood between them.
  static void InternalDel(CyclicList* prev, CyclicList* next) {
    next->prev = prev;
    prev->next = next;
  }

  // Puts this link between the two neighbours.
  void InternalAdd(CyclicList* before, CyclicList* after) {
    after->prev = this;
    next = after;
    prev = before;
    before->next = this;
  }

  // Appends this element at the end of the list whose sentinel is `list`.
  void AddTail(CyclicList& list) { InternalAdd(list.prev, &list); }
  // Takes this element out of its list (harmless when it is in none).
  void Unlink() {
    InternalDel(prev, next);
    InternalInit();
  }

  bool Empty() const { return next == this; }

  class TIterator {
   public:
    explicit TIterator(CyclicList* link = nullptr) : link_(link) {}
    TIterator& operator++() {
      link_ = link_->next;
      return *this;
    }
    CyclicList* operator*() const { return link_; }
    bool operator==(const TIterator& o) const { return link_ == o.link_; }
    bool operator!=(const TIterator& o) const { return link_ != o.link_; }

   private:
    CyclicList* link_;
  };

  // From the sentinel's next round to the sentinel.
  TIterator begin() { return TIterator(next); }
  TIterator end() { return TIterator(this); }

  CyclicList* next;
  CyclicList* prev;
};

// The element of type T whose `member` is `link`.
template <class T>
T* offset(CyclicList* link, CyclicList T::*member) {
  // The member's offset, measured on storage of T's size and alignment in
  // which no object is ever built.
  alignas(T) static unsigned char probe[sizeof(T)];
  const T* shape = reinterpret_cast<const T*>(probe);
  std::ptrdiff_t off = reinterpret_cast<const unsigned char*>(&(shape->*member)) - probe;
  return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(link) - off);
}

}  // namespace Containers
