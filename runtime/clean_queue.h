#pragma once
// Fixed-capacity ring of handles (packets, in practice) that keeps a
// reference only on what it holds: every removal empties its slot, and
// clear() lets go of everything, so a queue never pins pool buffers that
// have left it. Nothing is allocated after construction.
#include <cstdint>

template <class T, unsigned N>
class CleanQueue {
  static_assert(N > 0, "a queue needs at least one slot");

 public:
  CleanQueue() = default;
  CleanQueue(const CleanQueue&) = delete;
  CleanQueue& operator=(const CleanQueue&) = delete;
  // The slots are released from the last one down to the first (the order in
  // which an array's elements are destroyed).
  ~CleanQueue() = default;

  // At the back; false (and no change) when full.
  bool put(const T& p) {
    if (count_ == N) return false;
    ++count_;
    slots_[tail_] = p;
    tail_ = inc_index(tail_);
    return true;
  }

  // At the front: the next get() returns it. False when full.
  bool append(const T& p) {
    if (count_ == N) return false;
    head_ = dec_index(head_);
    slots_[head_] = p;
    ++count_;
    return true;
  }

  // Takes the oldest out; false (out unchanged) when empty.
  bool get(T& out) {
    if (count_ == 0) return false;
    out = T();
    out = slots_[head_];
    slots_[head_] = T();
    --count_;
    head_ = inc_index(head_);
    return true;
  }
  bool get(T* out) { return get(*out); }

  // Takes the newest out; false when empty.
  bool get_last(T* out) {
    if (count_ == 0) return false;
    tail_ = dec_index(tail_);
    *out = T();
    *out = slots_[tail_];
    slots_[tail_] = T();
    --count_;
    return true;
  }

  // Copies the oldest without taking it out. With a null out, only tells
  // whether the queue holds anything.
  bool preview(T* out) const {
    if (count_ == 0) return false;
    if (out) *out = slots_[head_];
    return true;
  }

  bool empty() const { return count_ == 0; }
  std::uint32_t count() const { return count_; }
  std::uint32_t size() const { return N; }

  // Empties the queue and releases what it held.
  void clear() {
    for (unsigned i = N; i-- > 0;) slots_[i] = T();
    head_ = tail_ = count_ = 0;
  }

 private:
  static std::uint32_t inc_index(std::uint32_t i) { return i < N - 1 ? i + 1 : 0; }
  static std::uint32_t dec_index(std::uint32_t i) { return i ? i - 1 : N - 1; }

  T slots_[N];
  std::uint32_t head_ = 0;   // the oldest element
  std::uint32_t tail_ = 0;   // where the next put goes
  std::uint32_t count_ = 0;  // 0..N
};
