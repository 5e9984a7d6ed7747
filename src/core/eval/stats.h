#pragma once

#include <cstdint>
#include <string_view>

namespace quarn {

class Trace;

/// Summary of one signal over indices 0 .. max_index. Field order is the
/// order of the Python tuple.
struct SignalStats {
  std::uint64_t min = 0;          ///< smallest Bits value; 0 when there is none
  std::uint64_t max = 0;          ///< largest Bits value; 0 when there is none
  std::uint64_t sum = 0;          ///< sum of Bits values, modulo 2^64
  std::uint64_t count = 0;        ///< indices holding Bits
  std::uint64_t transitions = 0;  ///< indices i >= 1 whose value differs from i - 1
  std::uint64_t num_x = 0;        ///< unknown (X, U, W, -) bits of Logic values, plus one per Empty index
  std::uint64_t num_z = 0;        ///< Z bits of Logic values

  friend bool operator==(const SignalStats&, const SignalStats&) = default;
};

/// Statistics of the named signal; all zero for an unknown name. Works from
/// the stored runs, so the cost grows with the changes, not the indices.
SignalStats compute_stats(const Trace& trace, std::string_view name);

}  // namespace quarn
