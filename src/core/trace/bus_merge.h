#pragma once

#include <vector>

#include "signal/types.h"

namespace quarn {

class Column;
class SignalStore;

/// One bit of a bus: its position (0 = least significant) and the signal
/// whose one-bit values it takes.
struct BusBit {
  Width position = 0;
  SignalId id = 0;
};

/// Writes to `out` (empty) the values of a `width`-bit vector made of the
/// one-bit signals `bits` of `store`: a change wherever a bit changes; Bits
/// (WideBits above 64) when every bit is 0 or 1, else Logic; a bit without a
/// one-bit value reads X, and the vector is Empty while no bit has a value.
void merge_bus_bits(const SignalStore& store, const std::vector<BusBit>& bits, Width width, Column& out);
/// The same with each bit's column given beside `bits` (null: no values).
void merge_bus_bits(const std::vector<const Column*>& columns, const std::vector<BusBit>& bits, Width width,
                    Column& out);

}  // namespace quarn
