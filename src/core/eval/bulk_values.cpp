#include "eval/bulk_values.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "signal/column.h"
#include "signal/packed_uints.h"
#include "signal/value_view.h"

namespace quarn {
namespace {

constexpr double kNoReal = std::numeric_limits<double>::quiet_NaN();

// A Logic vector as a number with x/z bits read as 0; `unknown` tells whether
// there were any. Only the low 64 bits count (callers use it for <= 64 bits).
std::uint64_t logic_number(const ValueView& v, bool& unknown) {
  const auto* bits = static_cast<const std::uint8_t*>(v.data);
  std::uint64_t n = 0;
  unknown = false;
  const std::size_t from = v.size > 64 ? v.size - 64 : 0;
  for (std::size_t i = from; i < v.size; ++i) {
    n = (n << 1) | (bits[i] == kLogic1 ? 1u : 0u);
    unknown |= bits[i] > kLogic1;
  }
  return n;
}

// Elements from .. from+count-1 of a packed array, widened to 64 bits: one
// loop per element width rather than a width test per element.
template <class T>
void widen(const std::uint8_t* bytes, std::size_t from, std::size_t count, std::uint64_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    T v;
    std::memcpy(&v, bytes + (from + i) * sizeof(T), sizeof(T));
    out[i] = v;
  }
}

void copy_packed(const PackedUints& p, std::size_t from, std::size_t count, std::uint64_t* out) {
  switch (p.width()) {
    case 1: return widen<std::uint8_t>(p.data(), from, count, out);
    case 2: return widen<std::uint16_t>(p.data(), from, count, out);
    case 3: return widen<Uint24>(p.data(), from, count, out);
    case 4: return widen<std::uint32_t>(p.data(), from, count, out);
    default: return widen<std::uint64_t>(p.data(), from, count, out);
  }
}

/// Appends entries of one kind; `count` copies of a run's value.
class Appender {
 public:
  explicit Appender(BulkValues& out) : out_(out) {}

  void add(const ValueView& v, std::size_t count) {
    bool unknown = v.tag == ValueTag::Empty;
    switch (out_.kind) {
      case BulkKind::Uint: {
        std::uint64_t n = 0;
        if (v.tag == ValueTag::Bits) n = v.scalar;
        else if (v.tag == ValueTag::Logic) n = logic_number(v, unknown);
        else if (v.tag == ValueTag::WideBits && v.size > 0) std::memcpy(&n, v.data, 8);
        out_.uints.insert(out_.uints.end(), count, n);
        break;
      }
      case BulkKind::Real: {
        double d = kNoReal;
        if (v.tag == ValueTag::Real) d = v.real_value();
        else if (v.tag == ValueTag::Bits) d = static_cast<double>(v.scalar);
        else unknown = true;
        out_.reals.insert(out_.reals.end(), count, d);
        break;
      }
      case BulkKind::Wide:
      case BulkKind::Text: {
        if (v.tag == ValueTag::Logic) logic_number(v, unknown);
        const SignalValue owned = to_value(v);
        out_.values.insert(out_.values.end(), count, owned);
        break;
      }
    }
    out_.unknown.insert(out_.unknown.end(), count, unknown ? 1 : 0);
  }

 private:
  BulkValues& out_;
};

}  // namespace

BulkKind bulk_kind(const Column* column, Width width) {
  if (column == nullptr) return width > 64 ? BulkKind::Wide : BulkKind::Uint;
  if (column->only_bits()) return BulkKind::Uint;
  bool real = false;
  bool wide = width > 64;
  for (std::size_t k = 0; k < column->run_count(); ++k) {
    switch (column->run_tag(k)) {
      case ValueTag::Text: return BulkKind::Text;
      case ValueTag::Real: real = true; break;
      case ValueTag::WideBits: wide = true; break;
      case ValueTag::Logic:
        if (column->run_value(k).size > 64) wide = true;
        break;
      default: break;
    }
  }
  if (real) return BulkKind::Real;
  return wide ? BulkKind::Wide : BulkKind::Uint;
}

BulkValues bulk_changes(const Column* column, Width width) {
  BulkValues out;
  out.kind = bulk_kind(column, width);
  if (column == nullptr) return out;
  const std::size_t runs = column->run_count();
  std::size_t k = 0;
  while (k < runs && column->run_tag(k) == ValueTag::Empty) ++k;  // before the first value
  out.indices.reserve(runs - k);
  out.unknown.reserve(runs - k);
  if (out.kind == BulkKind::Uint && column->only_bits()) {
    // Nearly every signal: numbers straight from the packed arrays.
    out.indices.resize(runs - k);
    out.uints.resize(runs - k);
    copy_packed(column->run_starts(), k, runs - k, out.indices.data());
    copy_packed(column->run_scalars(), k, runs - k, out.uints.data());
    out.unknown.assign(out.uints.size(), 0);
    return out;
  }
  Appender append(out);
  for (; k < runs; ++k) {
    out.indices.push_back(column->run_start(k));
    append.add(column->run_value(k), 1);
  }
  return out;
}

BulkValues bulk_values(const Column* column, Width width, Index start, Index end) {
  BulkValues out;
  out.kind = bulk_kind(column, width);
  if (end <= start) return out;
  Appender append(out);
  const Index covered = column == nullptr ? start : std::max(start, std::min(end, column->length()));
  if (column != nullptr && start < covered) {
    for (std::size_t k = column->run_at(start); k < column->run_count() && column->run_start(k) < covered; ++k) {
      const Index from = std::max(start, column->run_start(k));
      const Index to = std::min(covered, column->run_end(k));
      append.add(column->run_value(k), static_cast<std::size_t>(to - from));
    }
  }
  if (covered < end) append.add(ValueView::empty(), static_cast<std::size_t>(end - covered));
  return out;
}

}  // namespace quarn
