#pragma once
// The packet pool: a fixed array of buffers set up once and never returned to
// the system. Free buffers wait on an intrusive list; taking one removes the
// head and releasing one appends it to the tail, so the buffer freed first is
// reused first and both steps take constant time.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <exception>

#include "runtime/f_dual_list.h"

class _Packet;

// Locking policy of the pool. The daemon has one thread; this does nothing.
class Dummy_critical_section {
 public:
  void lock() {}
  void unlock() {}
};

template <class T, unsigned N, class CriticalSection>
class List_allocator {
 public:
  static constexpr unsigned capacity = N;

  List_allocator() { free_list_.init(blocks_, N); }
  List_allocator(const List_allocator&) = delete;
  List_allocator& operator=(const List_allocator&) = delete;

  // The item of the free list's head record, or null when every record is
  // in use. The item's contents are left as they are: whoever takes it sets
  // it up.
  T* allocate() {
    cs_.lock();
    Block* b = free_list_.remove_from_head();
    cs_.unlock();
    return b ? &b->item : nullptr;
  }

  void deallocate(T* item) {
    Block* b = block_of(item);
    cs_.lock();
    free_list_.insert_to_tail(b);
    cs_.unlock();
  }

  // Records currently free.
  std::uint32_t available() const { return free_list_.size(); }

  bool owns(const T* item) const { return block_index(item) < N; }

 private:
  struct Block : F_dual_list_item<Block> {
    T item;
  };

  // Index of the record holding item, or N when item is not one of ours.
  std::size_t block_index(const T* item) const {
    std::uintptr_t first = reinterpret_cast<std::uintptr_t>(&blocks_[0].item);
    std::uintptr_t at = reinterpret_cast<std::uintptr_t>(item);
    if (at < first) return N;
    std::uintptr_t off = at - first;
    if (off % sizeof(Block) != 0) return N;
    std::size_t i = off / sizeof(Block);
    return i < N ? i : N;
  }

  Block* block_of(T* item) {
    std::size_t i = block_index(item);
    if (i >= N) {
      // Only buffers taken from this pool may come back to it.
      std::clog << "packet pool: release of a foreign buffer" << std::endl;
      std::terminate();
    }
    return &blocks_[i];
  }

  Block blocks_[N];
  F_dual_list<Block> free_list_;
  CriticalSection cs_;
};

using Packet_pool = List_allocator<_Packet, 1024, Dummy_critical_section>;

// The process-wide pool, built on first use (so before any packet exists).
Packet_pool& packet_pool();
