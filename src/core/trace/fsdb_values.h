#pragma once

// FSDB value blocks: each block is cut into header, body and trailer by fixed
// byte patterns and decoded into events (signal id, time, value). The events
// of all blocks are then stored together.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "signal/types.h"
#include "trace/fsdb_facts.h"
#include "trace/trace_record.h"

namespace quarn::fsdb {

/// How a value block splits up. Positions are offsets into the block.
struct BlockLayout {
  bool passed = false;          // long enough, and has a header mark or an end mark
  bool has_body = false;        // the header ends at least 6 bytes before the block's end
  std::size_t header_count = 0;  // header numbers decoded (only the first 6 are kept)
  std::uint64_t header[6] = {};
  std::size_t body_begin = 0, body_end = 0;  // after the fill-mark and end-mark cuts
  bool has_trailer = false;
  std::size_t trailer_begin = 0;  // first byte after the trailer mark
};
BlockLayout find_layout(Bytes block);

/// A body split at its 0x08 separators; the last piece of two or more is the
/// trailer segment.
struct Segments {
  bool separated = false;
  std::vector<Bytes> segments;
  Bytes trailer_segment;
  bool has_trailer_segment = false;
};
Segments split_body(Bytes body);

/// Descriptor of a derived signal: kind 0 copies the base value, kind 1 keeps
/// its low bit; both shift the time by `offset`.
struct Descriptor {
  std::uint8_t kind = 0;
  std::uint8_t offset = 0;
};

/// Base events of a body: nondecreasing times and byte values.
struct BaseEvents {
  std::vector<Time> times;
  std::vector<std::uint8_t> values;
  std::vector<Descriptor> descriptors;
};
/// Reads the segments' byte pairs. `limit` is the largest event number an
/// unseparated body may reach.
BaseEvents decode_base_events(const Segments& s, std::uint64_t limit);

/// Values that follow the trailer mark. `body_last` is the body's last byte
/// (0 for an empty body).
std::vector<std::uint8_t> read_trailer_values(Bytes trailer, std::uint8_t body_last);

/// One signal's share of a block's base events: the first `count` of them,
/// shifted by `offset` and masked by `mask`.
struct Projection {
  SignalId id = 0;
  Time offset = 0;
  std::uint8_t mask = 0xFF;
  std::size_t count = 0;
};
/// A single event.
struct Event {
  SignalId id = 0;
  Time time = 0;
  std::uint64_t value = 0;
};
/// The generated clock of signal 0: `count` edges at 0, period, 2*period...
/// starting with `first` and alternating.
struct Clock {
  Time period = 0;
  std::uint8_t first = 0;
  std::uint64_t count = 0;
};

/// Everything one value block contributes, kept compact: events are made on
/// demand in the order they were collected (singles, projections, clock).
struct BlockEvents {
  bool passed = false;
  BaseEvents base;
  std::vector<Event> singles;
  std::vector<Projection> projections;
  Clock clock;

  std::uint64_t event_count() const;
  Event projection_event(const Projection& p, std::size_t k) const {
    return {p.id, base.times[k] + p.offset, static_cast<std::uint64_t>(base.values[k] & p.mask)};
  }
  Event clock_event(std::uint64_t k) const {
    return {0, k * clock.period, static_cast<std::uint64_t>((k & 1) ? !clock.first : clock.first)};
  }
  /// Calls f(Event) for every event, in collection order.
  template <class F>
  void for_each_event(F&& f) const;
};

/// Decodes one value block for a trace of `name_count` names. At most
/// `budget` events are made; the budget shrinks by what was made.
BlockEvents decode_value_block(Bytes block, std::size_t name_count, std::uint64_t& budget);

/// Builds the timestamps and values of `record` from the decoded blocks: the
/// times are the distinct event times plus 0, ascending; for one signal and
/// one time the event collected last wins; if any block passed its header
/// check, every named signal without a value at time 0 gets Bits 0 there;
/// values hold until the next change.
void store_events(const std::vector<BlockEvents>& blocks, TraceRecord& record);

template <class F>
void BlockEvents::for_each_event(F&& f) const {
  for (const Event& e : singles) f(e);
  for (const Projection& p : projections)
    for (std::size_t k = 0; k < p.count; ++k) f(projection_event(p, k));
  for (std::uint64_t k = 0; k < clock.count; ++k) f(clock_event(k));
}

}  // namespace quarn::fsdb
