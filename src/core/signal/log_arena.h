#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

namespace quarn {

/// Memory for the change logs of a group of signals while a trace loads:
/// blocks cut in order from large slabs, given back all at once. Nothing is
/// freed block by block, so the logs leave no holes for the columns built
/// from them to fall into, and a group's memory goes back to the system as
/// soon as its columns are built.
class LogArena {
 public:
  LogArena() = default;
  ~LogArena() { release(); }
  LogArena(LogArena&& other) noexcept { swap(other); }
  LogArena& operator=(LogArena&& other) noexcept {
    if (this != &other) {
      release();
      swap(other);
    }
    return *this;
  }
  LogArena(const LogArena&) = delete;
  LogArena& operator=(const LogArena&) = delete;

  /// Bytes readable past the end of any block taken, so that a reader may
  /// load eight bytes at a time.
  static constexpr std::size_t kReadable = 8;

  /// `bytes` bytes, 8-aligned, valid until `release`; throws std::bad_alloc.
  std::uint8_t* take(std::size_t bytes) {
    bytes = (bytes + 7) & ~std::size_t{7};
    if (static_cast<std::size_t>(end_ - next_) < bytes) [[unlikely]]
      add_slab(bytes);
    std::uint8_t* p = next_;
    next_ += bytes;
    return p;
  }
  /// Makes the next `bytes` bytes taken come from one slab of about that size.
  void reserve(std::size_t bytes) {
    if (static_cast<std::size_t>(end_ - next_) < bytes) add_slab(bytes, true);
  }
  /// Gives every slab back.
  void release();

 private:
  struct Slab {
    void* base;
    std::size_t bytes;
    bool mapped;  // else from malloc
  };
  // A slab of at least `at_least` bytes; of that size alone when `exact`.
  void add_slab(std::size_t at_least, bool exact = false);
  void swap(LogArena& other) noexcept {
    slabs_.swap(other.slabs_);
    std::swap(next_, other.next_);
    std::swap(end_, other.end_);
  }

  std::vector<Slab> slabs_;
  std::uint8_t* next_ = nullptr;
  std::uint8_t* end_ = nullptr;
};

/// Allocator of whole pages, so that a vector's memory can be given back a
/// page range at a time (`give_back_pages`) while the vector lives on.
template <class T>
struct PageAllocator {
  using value_type = T;
  static constexpr std::size_t kPage = 4096;
  PageAllocator() = default;
  template <class U>
  PageAllocator(const PageAllocator<U>&) {}
  T* allocate(std::size_t n) {
    const std::size_t bytes = (n * sizeof(T) + kPage - 1) / kPage * kPage;
    void* p = std::aligned_alloc(kPage, bytes ? bytes : kPage);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  template <class U>
  bool operator==(const PageAllocator<U>&) const { return true; }
};

/// Lets the system take back the whole pages among bytes `begin` ..
/// `begin + bytes` of memory from `PageAllocator`: they read as zeros after.
void give_back_pages(void* begin, std::size_t bytes);

}  // namespace quarn
