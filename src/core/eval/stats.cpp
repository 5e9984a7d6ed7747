#include "eval/stats.h"

#include <algorithm>
#include <limits>

#include "eval/segments.h"
#include "trace/trace.h"

namespace quarn {

SignalStats compute_stats(const Trace& trace, std::string_view name) {
  SignalStats st;
  const auto id = trace.signal_id(name);
  if (!id) return st;
  st.min = std::numeric_limits<std::uint64_t>::max();
  ValueView prev;
  bool first = true;
  // Unsigned products wrap modulo 2^64, exactly as adding once per index would.
  for_each_segment(trace.column(*id), trace.max_index() + 1, [&](Index start, Index end, const ValueView& v) {
    const std::uint64_t n = end - start;
    switch (v.tag) {
      case ValueTag::Bits:
        st.count += n;
        st.sum += v.scalar * n;
        st.min = std::min(st.min, v.scalar);
        st.max = std::max(st.max, v.scalar);
        break;
      case ValueTag::Logic: {
        std::uint64_t x = 0, z = 0;
        const auto* bits = static_cast<const std::uint8_t*>(v.data);
        for (std::size_t i = 0; i < v.size; ++i) {
          x += logic_unknown(bits[i]);
          z += bits[i] == kLogicZ;
        }
        st.num_x += x * n;
        st.num_z += z * n;
        break;
      }
      case ValueTag::Empty:
        st.num_x += n;
        break;
      default:
        break;
    }
    if (!first && !same_for_changes(prev, v)) ++st.transitions;
    prev = v;
    first = false;
  });
  if (st.count == 0) st.min = 0;
  return st;
}

}  // namespace quarn
