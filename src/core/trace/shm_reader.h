#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trace/load_control.h"
#include "trace/shm_transitions.h"
#include "trace/trace_record.h"

namespace quarn {

/// The SHM reader: a database directory, its design file (.dsn) or one of its
/// transition files (.trn). Names and scopes come from the design file, times
/// and one-bit `Bits` values from the transition files; every name has width 1.
struct ShmTrace {
  /// Loads the database at `path`. Fails with "No .dsn/.trn in <path>" (a
  /// directory without either), "DSN: <system error text>" (the design file
  /// cannot be read) or "Bad DSN magic: 0x<8 upper-case hex digits>". Every
  /// other problem yields fewer names or values; unusable transition files are
  /// skipped.
  /// A design or transition file that is a FIFO, socket or device fails
  /// with "Failed to open <file>: not a regular file". The events decoded
  /// are bounded by `shm::EventBudget::for_input` and the input's size.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says stop.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path, LoadControl& control);
  /// The same from file contents already in memory: the design file (empty
  /// when there is none) and the transition files in decoding order, which
  /// together may decode at most `limits` events of each kind.
  static std::variant<RecordTrace, std::string> from_bytes(std::string_view dsn,
                                                            const std::vector<std::string_view>& trns,
                                                            const shm::DecodeLimits& limits = {});
};

namespace shm {

/// Merges the decoded transition files, in decoding order, into `timestamps`
/// and `store`: the times are the sorted union of every file's times (its
/// events, 0 and its end time); each event is stored at the index of its time,
/// the one decoded last winning for one signal and time; signals 0 ..
/// name_count-1 without a value at index 0 get Bits 0; values hold until the
/// next change. With no file the times are {0} and the store stays empty.
void assemble_values(const std::vector<ShmFileEvents>& files, std::uint64_t name_count,
                     std::vector<Time>& timestamps, SignalStore& store);

}  // namespace shm

}  // namespace quarn
