#pragma once
// Intrusive doubly linked list: items derive from F_dual_list_item of their
// own class, so linking and unlinking never allocate. The packet pool keeps
// its free buffers on one, and a protocol stack keeps its layers on one.
#include <cstdint>

template <class T>
class F_dual_list_item {
 public:
  T* next = nullptr;
  T* prev = nullptr;
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

  void push_back(T* item) { insert_to_tail(item); }

  void insert_to_tail(T* item) {
    item->next = nullptr;
    item->prev = tail_;
    if (tail_)
      tail_->next = item;
    else
      head_ = item;
    tail_ = item;
    ++count_;
  }

  void insert_to_head(T* item) {
    item->prev = nullptr;
    item->next = head_;
    if (head_)
      head_->prev = item;
    else
      tail_ = item;
    head_ = item;
    ++count_;
  }

  void insert_after(T* pos, T* item) {
    if (!pos) {
      insert_to_head(item);
      return;
    }
    item->prev = pos;
    item->next = pos->next;
    if (pos->next)
      pos->next->prev = item;
    else
      tail_ = item;
    pos->next = item;
    ++count_;
  }

  void remove(T* item) {
    if (item->prev)
      item->prev->next = item->next;
    else
      head_ = item->next;
    if (item->next)
      item->next->prev = item->prev;
    else
      tail_ = item->prev;
    item->next = item->prev = nullptr;
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

  // Links n contiguous items head to tail; the list must be empty.
  void init(T* storage, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) insert_to_tail(&storage[i]);
  }

 private:
  T* head_ = nullptr;
  T* tail_ = nullptr;
  std::uint32_t count_ = 0;
};
