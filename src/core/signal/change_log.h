#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "signal/column.h"
#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

/// Append-only record of one signal's changes while a trace loads. Each change
/// adds a few bytes at the end of one buffer (index delta, tag, payload), so a
/// reader that meets signals in file order touches one cache line per change
/// instead of a column's several arrays; `replay_into` builds the column
/// afterwards, one signal at a time.
class ChangeLog {
 public:
  /// Records `v` at `index`; indices must not decrease.
  void append(Index index, const ValueView& v);
  /// `Column::record_change` of every logged change, in order.
  void replay_into(Column& column) const;
  bool empty() const { return size_ == 0; }
  /// Frees the buffer.
  void release();

 private:
  std::uint8_t* reserve(std::size_t extra);

  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  Index last_ = 0;
};

}  // namespace quarn
