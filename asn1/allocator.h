// Small-object pool for value objects. A decoded message is a tree of many
// small nodes that live for one message; a free list per size class keeps
// their allocation off the general heap. Sanitizer builds use the plain heap
// so that use-after-free and leaks stay visible.
#pragma once

#include <cstddef>

namespace ASN1 {
namespace detail {

void* pool_allocate(std::size_t size);
void pool_release(void* p, std::size_t size) noexcept;

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
