#include "signal/log_arena.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace quarn {

namespace {

// Slabs double from the first to the largest size: a group with few changes
// takes little, one with many takes few slabs.
constexpr std::size_t kFirstSlab = std::size_t{64} << 10;
constexpr std::size_t kLargestSlab = std::size_t{4} << 20;
constexpr std::size_t kPage = 4096;
// Slabs this large are mapped directly, so that giving one back lowers the
// process's memory at once (freed to malloc, they would leave holes that
// keep their pages). Past a number of mappings alive, malloc again: the
// system allows some 65,000 in all.
constexpr std::size_t kMappedSlab = std::size_t{64} << 10;
constexpr std::size_t kMostMappings = 16384;
std::atomic<std::size_t> mappings{0};

// Under AddressSanitizer every slab comes from malloc, to have its bounds
// checked.
bool map_next(std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  (void)bytes;
  return false;
#else
  return bytes >= kMappedSlab && mappings.load(std::memory_order_relaxed) < kMostMappings;
#endif
}

}  // namespace

void LogArena::add_slab(std::size_t at_least, bool exact) {
  std::size_t bytes = exact ? 0 : slabs_.empty() ? kFirstSlab : std::min(kLargestSlab, slabs_.back().bytes * 2);
  bytes = std::max(bytes, at_least + kReadable);
  const bool mapped = map_next(bytes);
  if (mapped) bytes = (bytes + kPage - 1) / kPage * kPage;
  slabs_.reserve(slabs_.size() + 1);
  void* p = nullptr;
  if (mapped) {
    p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) p = nullptr;
    else mappings.fetch_add(1, std::memory_order_relaxed);
  } else {
    p = std::malloc(bytes);
  }
  if (p == nullptr) throw std::bad_alloc();
  slabs_.push_back({p, bytes, mapped});
  next_ = static_cast<std::uint8_t*>(p);
  end_ = next_ + bytes - kReadable;
}

void give_back_pages(void* begin, std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  (void)begin, (void)bytes;  // the sanitizer's allocator keeps its own books
#else
  const auto from = (reinterpret_cast<std::uintptr_t>(begin) + kPage - 1) / kPage * kPage;
  const auto to = (reinterpret_cast<std::uintptr_t>(begin) + bytes) / kPage * kPage;
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
#endif
}

void LogArena::release() {
  for (const Slab& s : slabs_) {
    if (s.mapped) {
      ::munmap(s.base, s.bytes);
      mappings.fetch_sub(1, std::memory_order_relaxed);
    } else {
      std::free(s.base);
    }
  }
  slabs_.clear();
  slabs_.shrink_to_fit();
  next_ = end_ = nullptr;
}

}  // namespace quarn
