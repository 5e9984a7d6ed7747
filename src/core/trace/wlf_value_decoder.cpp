#include "trace/wlf_value_decoder.h"

#include "signal/value_view.h"
#include "trace/trace_record.h"
#include "trace/wlf_layout.h"

namespace quarn {

WlfValueDecoder::WlfValueDecoder(TraceRecord& record)
    : record_(record), signal_count_(record.names.size()) {}

void WlfValueDecoder::open_index() {
  while (record_.timestamps.size() <= index_) record_.timestamps.push_back(record_.timestamps.size());
}

void WlfValueDecoder::flush() {
  for (std::size_t k = 0; k < pending_count_; ++k) {
    const std::uint8_t id = pending_order_[k];
    // Changes arrive in index order, so each column is held up to this index
    // and then written.
    record_.store.record_change(id, index_, ValueView::bits(pending_value_[id]));
    pending_[id] = false;
  }
  pending_count_ = 0;
}

void WlfValueDecoder::decode(ByteSpan records) {
  std::size_t i = 0;
  while (i + 1 < records.size()) {
    const std::uint8_t b = records[i];
    if (b == kWlfFiller) {
      ++i;
    } else if (b == kWlfTimeStep) {
      flush();
      ++index_;
      open_index();
      ++i;
    } else if (b < signal_count_) {
      open_index();
      if (!pending_[b]) {
        pending_[b] = true;
        pending_order_[pending_count_++] = b;
      }
      pending_value_[b] = records[i + 1];  // a later write at one index wins
      i += 2;
    } else {
      ++i;
    }
  }
}

void WlfValueDecoder::finish() {
  flush();
  if (record_.timestamps.size() >= 2) record_.store.hold_through(record_.timestamps.size() - 1);
}

}  // namespace quarn
