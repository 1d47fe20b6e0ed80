#include "asn1/allocator.h"

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

void* pool_allocate(std::size_t size) { return ::operator new(size); }
void pool_release(void* p, std::size_t) noexcept { ::operator delete(p); }

#else

namespace {

const std::size_t Granule = 8;
const std::size_t ClassCount = 16;  // objects up to 128 bytes are pooled
const std::size_t ChunkSize = 16384;

struct FreeNode {
  FreeNode* next;
};

struct Pools {
  FreeNode* free[ClassCount] = {};
};

// One set of free lists per thread; the daemon has one thread, tools and
// tests may have more. Chunks are never returned: the pool only grows to
// the largest message tree held at once.
thread_local Pools pools;

void refill(std::size_t cls) {
  std::size_t size = (cls + 1) * Granule;
  char* chunk = static_cast<char*>(::operator new(ChunkSize));
  std::size_t count = ChunkSize / size;
  FreeNode* head = pools.free[cls];
  for (std::size_t i = count; i-- > 0;) {
    FreeNode* n = reinterpret_cast<FreeNode*>(chunk + i * size);
    n->next = head;
    head = n;
  }
  pools.free[cls] = head;
}

}  // namespace

void* pool_allocate(std::size_t size) {
  std::size_t cls = (size + Granule - 1) / Granule - 1;
  if (size == 0 || cls >= ClassCount) return ::operator new(size);
  if (!pools.free[cls]) refill(cls);
  FreeNode* n = pools.free[cls];
  pools.free[cls] = n->next;
  return n;
}

void pool_release(void* p, std::size_t size) noexcept {
  if (!p) return;
  std::size_t cls = (size + Granule - 1) / Granule - 1;
  if (size == 0 || cls >= ClassCount) {
    ::operator delete(p);
    return;
  }
  FreeNode* n = static_cast<FreeNode*>(p);
  n->next = pools.free[cls];
  pools.free[cls] = n;
}

#endif

}  // namespace detail
}  // namespace ASN1
