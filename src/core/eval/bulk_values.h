#pragma once

#include <cstdint>
#include <vector>

#include "signal/signal_value.h"
#include "signal/types.h"

namespace quarn {

class Column;

/// How one signal's values are laid out in bulk, chosen from the variants its
/// column holds and its width.
///  Uint: numbers of at most 64 bits; x/z bits read as 0 (flagged unknown).
///  Wide: numbers wider than 64 bits, kept as values (WideBits, or Logic).
///  Real: doubles; NaN where there is no value.
///  Text: strings, kept as values.
enum class BulkKind : std::uint8_t { Uint, Wide, Real, Text };

/// A signal's values in bulk: one entry per change or per index. Exactly
/// one of `uints`, `reals` and `values` is filled, by `kind`.
struct BulkValues {
  BulkKind kind = BulkKind::Uint;
  /// Index of each entry (changes only).
  std::vector<Index> indices;
  std::vector<std::uint64_t> uints;
  std::vector<double> reals;
  /// Wide and Text: the values themselves (Empty where there is none).
  std::vector<SignalValue> values;
  /// 1 where the value holds x or z bits or there is no value (Empty).
  std::vector<std::uint8_t> unknown;
};

/// The kind that fits every value `column` holds, for a signal of `width`
/// bits (null column: Uint).
BulkKind bulk_kind(const Column* column, Width width);

/// The stored changes of a column: its first value (skipping the positions
/// before the signal has any) and every index where the stored value changes
/// after that. Cost grows with the changes, not the indices.
BulkValues bulk_changes(const Column* column, Width width);

/// The value at every index from `start` to `end` - 1 (Empty, so unknown,
/// past the column's end or for a null column).
BulkValues bulk_values(const Column* column, Width width, Index start, Index end);

}  // namespace quarn
