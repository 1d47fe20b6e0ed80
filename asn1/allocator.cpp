#include "asn1/allocator.h"

namespace ASN1 {
namespace detail {

#ifndef KORVEND_ASN1_PLAIN_HEAP

__thread PoolNode* pool_free[PoolClasses];

namespace {

const std::size_t ChunkSize = 16384;

}  // namespace

// Chunks are never returned: the pool only grows to the largest message
// tree held at once.
void* pool_refill(std::size_t cls) {
  std::size_t size = (cls + 1) * PoolGranule;
  char* chunk = static_cast<char*>(::operator new(ChunkSize));
  std::size_t count = ChunkSize / size;
  PoolNode* head = pool_free[cls];
  for (std::size_t i = count; i-- > 1;) {
    PoolNode* n = reinterpret_cast<PoolNode*>(chunk + i * size);
    n->next = head;
    head = n;
  }
  pool_free[cls] = head;
  return chunk;
}

#endif

}  // namespace detail
}  // namespace ASN1
