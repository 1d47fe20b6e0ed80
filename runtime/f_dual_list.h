#pragma once
// Intrusive doubly linked lists. The loop keeps its handlers and timers in
// them so that registering, arming and serving never allocate, and the
// packet pool threads its free buffers through the same links.
#include <cstdint>

// The links an item carries. T is the item class itself (CRTP), so the list
// hands back T* without casts at the call sites.
template <class T>
class F_dual_list_item {
 public:
  T* dl_next = nullptr;
  T* dl_prev = nullptr;
};

template <class T>
class F_dual_list {
 public:
  F_dual_list() = default;
  F_dual_list(const F_dual_list&) = delete;
  F_dual_list& operator=(const F_dual_list&) = delete;

  T* head() const { return head_; }
  T* tail() const { return tail_; }
  std::uint32_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  static T* next(const T* item) { return link(item).dl_next; }
  static T* prev(const T* item) { return link(item).dl_prev; }

  void push_back(T* item) { insert_to_tail(item); }

  void insert_to_tail(T* item) {
    link(item).dl_next = nullptr;
    link(item).dl_prev = tail_;
    if (tail_)
      link(tail_).dl_next = item;
    else
      head_ = item;
    tail_ = item;
    ++count_;
  }

  void insert_to_head(T* item) {
    link(item).dl_prev = nullptr;
    link(item).dl_next = head_;
    if (head_)
      link(head_).dl_prev = item;
    else
      tail_ = item;
    head_ = item;
    ++count_;
  }

  // Inserts item right after pos; a null pos inserts at the head.
  void insert_after(T* pos, T* item) {
    if (!pos) {
      insert_to_head(item);
      return;
    }
    if (pos == tail_) {
      insert_to_tail(item);
      return;
    }
    T* after = link(pos).dl_next;
    link(item).dl_prev = pos;
    link(item).dl_next = after;
    link(pos).dl_next = item;
    link(after).dl_prev = item;
    ++count_;
  }

  // Unlinks an item that is in this list (the caller knows it is).
  void remove(T* item) {
    T* p = link(item).dl_prev;
    T* n = link(item).dl_next;
    if (p)
      link(p).dl_next = n;
    else
      head_ = n;
    if (n)
      link(n).dl_prev = p;
    else
      tail_ = p;
    link(item).dl_next = link(item).dl_prev = nullptr;
    --count_;
  }

  T* remove_from_head() {
    T* item = head_;
    if (item) remove(item);
    return item;
  }

  // Exchanges the whole contents of the two lists.
  void merge(F_dual_list& other) {
    T* h = head_;
    T* t = tail_;
    std::uint32_t c = count_;
    head_ = other.head_;
    tail_ = other.tail_;
    count_ = other.count_;
    other.head_ = h;
    other.tail_ = t;
    other.count_ = c;
  }

  // Links n contiguous items head to tail (the list must be empty).
  void init(T* storage, std::uint32_t n) {
    head_ = tail_ = nullptr;
    count_ = 0;
    for (std::uint32_t i = 0; i < n; ++i) insert_to_tail(&storage[i]);
  }

 private:
  static F_dual_list_item<T>& link(T* item) { return *static_cast<F_dual_list_item<T>*>(item); }
  static const F_dual_list_item<T>& link(const T* item) {
    return *static_cast<const F_dual_list_item<T>*>(item);
  }

  T* head_ = nullptr;
  T* tail_ = nullptr;
  std::uint32_t count_ = 0;
};

// A list kept in the order of T::compare (negative: this one sorts first).
template <class T>
class F_sorted_list : public F_dual_list<T> {
 public:
  // Walks from the tail (new items usually sort last) and inserts after the
  // first item that does not sort after the new one, so items that compare
  // equal stay in insertion order.
  void insert_to_tail_by_grown(T* item) {
    T* pos = this->tail();
    while (pos && pos->compare(item) > 0) pos = F_dual_list<T>::prev(pos);
    this->insert_after(pos, item);
  }

  std::uint32_t count() const { return this->size(); }
};
