// Small-object pool for value objects. A decoded message is a tree of many
// small nodes that live for one message; a free list per size class keeps
// their allocation off the general heap. Sanitizer builds use the plain heap
// so that use-after-free and leaks stay visible.
#pragma once

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KORVEND_ASN1_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEND_ASN1_PLAIN_HEAP 1
#endif
#endif

namespace ASN1 {
namespace detail {

#ifdef KORVEND_ASN1_PLAIN_HEAP

inline void* pool_allocate(std::size_t size) { return ::operator new(size); }
inline void pool_release(void* p, std::size_t) noexcept { ::operator delete(p); }

#else

const std::size_t PoolGranule = 8;
const std::size_t PoolClasses = 16;  // objects up to 128 bytes are pooled

struct PoolNode {
  PoolNode* next;
};

// One set of free lists per thread; the daemon has one thread, tools and
// tests may have more. A plain array, so that every use is a direct access
// to the thread's copy.
extern __thread PoolNode* pool_free[PoolClasses];

// Fills the free list of a class from a new chunk and takes its first node.
void* pool_refill(std::size_t cls);

// Inline, so that the size class of a value class is worked out where it is
// allocated or released: the size is a constant there.
inline void* pool_allocate(std::size_t size) {
  std::size_t cls = (size + PoolGranule - 1) / PoolGranule - 1;
  if (size == 0 || cls >= PoolClasses) return ::operator new(size);
  PoolNode* n = pool_free[cls];
  if (!n) return pool_refill(cls);
  pool_free[cls] = n->next;
  return n;
}

inline void pool_release(void* p, std::size_t size) noexcept {
  if (!p) return;
  std::size_t cls = (size + PoolGranule - 1) / PoolGranule - 1;
  if (size == 0 || cls >= PoolClasses) {
    ::operator delete(p);
    return;
  }
  PoolNode* n = static_cast<PoolNode*>(p);
  n->next = pool_free[cls];
  pool_free[cls] = n;
}

#endif

// Empty base of each value class: gives it the pooled operator new/delete.
// Objects are deleted through their virtual destructor, so the sized
// delete receives the size of the complete object.
template <class T>
class Allocator {
 public:
  static void* operator new(std::size_t size) { return pool_allocate(size); }
  static void operator delete(void* p, std::size_t size) noexcept { pool_release(p, size); }
};

}  // namespace detail
}  // namespace ASN1
