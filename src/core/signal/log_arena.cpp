#include "signal/log_arena.h"

#include <algorithm>
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
// process's memory at once. Smaller ones come from malloc: thousands of
// groups must not each take a mapping (the system allows some 65,000).
// Under AddressSanitizer every slab comes from malloc, to have its bounds
// checked.
constexpr std::size_t kMappedSlab = std::size_t{256} << 10;

bool mapped(std::size_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  (void)bytes;
  return false;
#else
  return bytes >= kMappedSlab;
#endif
}

void* map_slab(std::size_t bytes) {
  if (!mapped(bytes)) return std::malloc(bytes);
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void unmap_slab(void* p, std::size_t bytes) {
  if (mapped(bytes)) ::munmap(p, bytes);
  else std::free(p);
}

}  // namespace

void LogArena::add_slab(std::size_t at_least, bool exact) {
  std::size_t bytes = exact ? 0 : slabs_.empty() ? kFirstSlab : std::min(kLargestSlab, slabs_.back().bytes * 2);
  bytes = std::max(bytes, at_least + kReadable);
  if (mapped(bytes)) bytes = (bytes + kPage - 1) / kPage * kPage;
  slabs_.reserve(slabs_.size() + 1);
  void* p = map_slab(bytes);
  if (p == nullptr) throw std::bad_alloc();
  slabs_.push_back({p, bytes});
  next_ = static_cast<std::uint8_t*>(p);
  end_ = next_ + bytes - kReadable;
}

void LogArena::release() {
  for (const Slab& s : slabs_) unmap_slab(s.base, s.bytes);
  slabs_.clear();
  slabs_.shrink_to_fit();
  next_ = end_ = nullptr;
}

}  // namespace quarn
