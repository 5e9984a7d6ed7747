#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "signal/types.h"
#include "trace/vendor_bytes.h"

namespace quarn {

struct TraceRecord;

/// Decodes the record bytes of WLF value pages into a record whose names are
/// final. Each 0xFF opens the next index (timestamp = index); a byte b with
/// 0 < b < number of names is followed by signal b's one-byte value, stored as
/// Bits and held until its next change; 0x00 and other bytes are skipped. The
/// index carries over from page to page.
class WlfValueDecoder {
 public:
  /// `record` must hold its names and the one timestamp 0.
  explicit WlfValueDecoder(TraceRecord& record);

  /// Decodes one page's record area. Its last byte is never examined: a
  /// signal number there would have its value beyond the area.
  void decode(ByteSpan records);
  /// Holds every signal's last value through the last index.
  void finish();

  Index current_index() const { return index_; }

 private:
  void open_index();
  void flush();

  TraceRecord& record_;
  std::size_t signal_count_;
  Index index_ = 0;
  // The values written at the current index, one per signal number, stored
  // when the index closes: a signal written twice at one index is then
  // stored once, with its later value, instead of rewriting its column.
  std::array<std::uint8_t, 256> pending_value_{};
  std::array<bool, 256> pending_{};
  std::array<std::uint8_t, 256> pending_order_{};
  std::size_t pending_count_ = 0;
};

}  // namespace quarn
