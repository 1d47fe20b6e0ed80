#pragma once
// Intrusive reference-counted handle. The pointee keeps its own count
// (a member named ref_count, reachable by Smart_pointer) and is deleted when
// the last handle lets go. Packets use a specialisation of their own
// (packet.h) that returns buffers to the pool and copies on write.
#include <cstdint>

// Fatal report for a dereferenced null handle; never returns.
[[noreturn]] void SmartPtrAssertion();
[[noreturn]] void SharedPtrAssertion();

template <class T>
class Smart_pointer {
 public:
  Smart_pointer() = default;
  explicit Smart_pointer(T* p) : p_(p) { acquire(p_); }
  Smart_pointer(const Smart_pointer& o) : p_(o.p_) { acquire(p_); }
  ~Smart_pointer() { drop(p_); }

  Smart_pointer& operator=(const Smart_pointer& o) { return *this = o.p_; }

  // Takes the new reference before dropping the old one, so assigning the
  // object already held never releases it.
  Smart_pointer& operator=(T* p) {
    if (p != p_) {
      T* old = p_;
      p_ = p;
      acquire(p_);
      drop(old);
    }
    return *this;
  }

  T* operator->() const {
    if (!p_) SmartPtrAssertion();
    return p_;
  }
  T& operator*() const {
    if (!p_) SmartPtrAssertion();
    return *p_;
  }

  T* get() const { return p_; }
  bool is_null() const { return p_ == nullptr; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  static void acquire(T* p) {
    if (p) ++p->ref_count;
  }
  static void drop(T* p) {
    if (p && --p->ref_count == 0) delete p;
  }

  T* p_ = nullptr;
};
