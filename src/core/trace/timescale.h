#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "signal/types.h"

namespace quarn {

/// The length of one time tick as the file declares it: magnitude x 10^exponent
/// seconds, the exponent a multiple of 3 from -18 (as) to 0 (s). "100ps" is
/// {100, -12}.
struct Timescale {
  std::uint32_t magnitude = 1;
  std::int8_t exponent = 0;
  friend bool operator==(const Timescale&, const Timescale&) = default;
};

/// Reads a VCD-style declaration: a decimal magnitude, optional white space,
/// a unit of s, ms, us, ns, ps or fs (as too). Absent for anything else.
std::optional<Timescale> parse_timescale(std::string_view text);

/// A tick of 10^exponent seconds (FST headers give only the exponent), in the
/// form a VCD would declare it: -10 gives {100, -12}. Absent below -18 or above 2.
std::optional<Timescale> timescale_from_exponent(int exponent);

/// "s", "ms", "us", "ns", "ps", "fs" or "as" for a multiple of 3 from 0 to -18;
/// empty for anything else.
std::string_view unit_name(int exponent);

/// The tick count of a time written as a decimal number with an optional unit
/// ("120", "1.2us", "3 ns"). A number without a unit is already in ticks and
/// must be whole. With a unit it is converted by `scale` and rounded down to
/// a whole tick, which is what "the index in force at that time" needs.
/// Absent (with `error` saying why) for malformed text, a unit on a trace
/// without a timescale, or a count beyond 64 bits.
std::optional<Time> parse_time(std::string_view text, const std::optional<Timescale>& scale, std::string& error);

}  // namespace quarn
