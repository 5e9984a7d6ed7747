#include "trace/wlf_value_decoder.h"

#include "signal/value_view.h"
#include "trace/trace_record.h"
#include "trace/wlf_layout.h"

namespace quarn {

WlfValueDecoder::WlfValueDecoder(TraceRecord& record)
    : record_(record), signal_count_(record.signal_names.size()) {}

void WlfValueDecoder::open_index() {
  while (record_.timestamps.size() <= index_) record_.timestamps.push_back(record_.timestamps.size());
}

void WlfValueDecoder::decode(ByteSpan records) {
  std::size_t i = 0;
  while (i + 1 < records.size()) {
    const std::uint8_t b = records[i];
    if (b == kWlfFiller) {
      ++i;
    } else if (b == kWlfTimeStep) {
      ++index_;
      open_index();
      ++i;
    } else if (b < signal_count_) {
      open_index();
      // Changes arrive in index order, so each column is held up to the new
      // index and then written; a second write at one index replaces the first.
      record_.store.record_change(b, index_, ValueView::bits(records[i + 1]));
      i += 2;
    } else {
      ++i;
    }
  }
}

void WlfValueDecoder::finish() {
  if (record_.timestamps.size() >= 2) record_.store.hold_through(record_.timestamps.size() - 1);
}

}  // namespace quarn
