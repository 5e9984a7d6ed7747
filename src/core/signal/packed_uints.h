#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quarn {

/// A three-byte little-endian unsigned integer, for reading `PackedUints` of
/// width 3 with code templated on the element type.
struct Uint24 {
  std::uint8_t bytes[3];
  operator std::uint64_t() const {
    return bytes[0] | std::uint64_t{bytes[1]} << 8 | std::uint64_t{bytes[2]} << 16;
  }
};
static_assert(sizeof(Uint24) == 3);

/// Array of unsigned integers stored with the fewest bytes (1, 2, 3, 4 or 8)
/// that hold the largest value seen so far; widens in place when a larger one
/// arrives. (Three bytes hold the indices of traces of up to 16M timestamps.)
class PackedUints {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  unsigned width() const { return width_; }
  /// The packed bytes: element i is `width()` little-endian bytes at i * width().
  const std::uint8_t* data() const { return bytes_.data(); }

  std::uint64_t get(std::size_t i) const {
    const std::uint8_t* p = bytes_.data() + i * width_;
    switch (width_) {
      case 1: return *p;
      case 2: { std::uint16_t v; std::memcpy(&v, p, 2); return v; }
      case 3: { Uint24 v; std::memcpy(&v, p, 3); return v; }
      case 4: { std::uint32_t v; std::memcpy(&v, p, 4); return v; }
      default: { std::uint64_t v; std::memcpy(&v, p, 8); return v; }
    }
  }
  std::uint64_t back() const { return get(size_ - 1); }

  void set(std::size_t i, std::uint64_t v) {
    fit(v);
    store(bytes_.data() + i * width_, v);
  }
  void push_back(std::uint64_t v) {
    // bytes_ is kept at its capacity; size_ says how much is in use.
    if (v > limit_ || (size_ + 1) * width_ > bytes_.size()) [[unlikely]]
      make_room(v);
    store(bytes_.data() + size_ * width_, v);
    ++size_;
  }
  void insert(std::size_t i, std::uint64_t v) {
    push_back(0);  // room for one more, at the current width
    fit(v);
    std::uint8_t* at = bytes_.data() + i * width_;
    std::memmove(at + width_, at, (size_ - 1 - i) * width_);
    store(at, v);
  }
  void erase(std::size_t i) {
    std::uint8_t* at = bytes_.data() + i * width_;
    std::memmove(at, at + width_, (size_ - 1 - i) * width_);
    --size_;
  }
  /// Room for `n` elements up to `largest` with no reallocation; only
  /// while empty.
  void reserve(std::size_t n, std::uint64_t largest) {
    if (!empty()) return;
    fit(largest);
    bytes_.assign(n * width_, 0);
  }
  void shrink_to_fit() {
    bytes_.resize(size_ * width_);
    bytes_.shrink_to_fit();
  }
  std::size_t memory_bytes() const { return bytes_.capacity(); }

 private:
  static unsigned width_for(std::uint64_t v) {
    return v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : v <= 0xFFFFFF ? 3 : v <= 0xFFFFFFFFu ? 4 : 8;
  }
  // Out of line, so that push_back stays a few instructions wherever it is
  // inlined.
  [[gnu::noinline]] void make_room(std::uint64_t v) {
    fit(v);
    if ((size_ + 1) * width_ > bytes_.size()) bytes_.resize(std::max<std::size_t>(16, bytes_.size() * 2));
  }
  void fit(std::uint64_t v) {
    if (v <= limit_) return;  // one compare on the common path
    const unsigned w = width_for(v);
    std::vector<std::uint8_t> wider(std::max<std::size_t>(16, size_ * w * 2));
    for (std::size_t i = 0; i < size_; ++i) {
      std::uint64_t x = get(i);
      std::memcpy(wider.data() + i * w, &x, w);  // little-endian host
    }
    bytes_.swap(wider);
    width_ = w;
    limit_ = w == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * w)) - 1;
  }
  void store(std::uint8_t* p, std::uint64_t v) const {
    // Fixed-size copies compile to single moves; a copy of width_ bytes
    // would be a call to memcpy.
    switch (width_) {
      case 1: *p = static_cast<std::uint8_t>(v); break;
      case 2: { const auto x = static_cast<std::uint16_t>(v); std::memcpy(p, &x, 2); break; }
      case 3: { const auto x = static_cast<std::uint32_t>(v); std::memcpy(p, &x, 3); break; }  // little-endian host
      case 4: { const auto x = static_cast<std::uint32_t>(v); std::memcpy(p, &x, 4); break; }
      default: std::memcpy(p, &v, 8); break;
    }
  }

  std::vector<std::uint8_t> bytes_;
  std::size_t size_ = 0;
  unsigned width_ = 1;
  std::uint64_t limit_ = 0xFF;  // largest value width_ bytes hold
};

}  // namespace quarn
