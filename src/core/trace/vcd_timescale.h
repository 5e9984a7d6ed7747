#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "trace/timescale.h"

namespace quarn {

/// Finds the `$timescale ... $end` declaration in the header lines of a VCD,
/// whether it sits on one line or spreads over several. Fed line by line
/// until `done()`: the header has ended or the declaration was read.
class VcdTimescaleScan {
 public:
  void line(std::string_view line);
  bool done() const { return done_; }
  /// The declared timescale; absent when none was found or it was malformed.
  const std::optional<Timescale>& result() const { return result_; }

 private:
  std::string text_;  // what follows "$timescale", until "$end"
  bool inside_ = false;
  bool done_ = false;
  std::optional<Timescale> result_;
};

/// The timescale declared in VCD text held in memory.
std::optional<Timescale> vcd_timescale(std::string_view text);

}  // namespace quarn
