#include "trace/fsdb_values.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <limits>
#include <map>
#include <queue>

namespace quarn::fsdb {

BlockLayout find_layout(Bytes block) {
  BlockLayout l;
  const std::size_t n = block.size();
  if (n < kMinValueBlock) return l;
  std::size_t header_end = find_bytes(block, kHeaderMark);
  if (header_end == n) {
    // No header mark: the block must carry an end mark; the header is then
    // its first four numbers.
    if (find_bytes(block, kEndMark) == n) return l;
    std::size_t pos = 0;
    for (int i = 0; i < 4 && pos < n; ++i) read_varint(block, pos, n);
    header_end = pos;
  }
  l.passed = true;
  for (std::size_t pos = 0; pos < header_end && l.header_count < 6;) l.header[l.header_count++] = read_varint(block, pos, header_end);
  if (n - header_end < kMarkSize) return l;
  l.has_body = true;
  l.body_begin = header_end + kMarkSize;
  l.body_end = n;
  const std::size_t trailer = find_bytes(block, kTrailerMark, l.body_begin);
  if (trailer < n) {
    l.body_end = trailer;
    l.has_trailer = true;
    l.trailer_begin = trailer + kMarkSize;
  }
  const Bytes body = block.subspan(l.body_begin, l.body_end - l.body_begin);
  std::size_t cut = find_bytes(body, kFillMark);
  cut = find_bytes(body.first(cut), kEndMark);
  l.body_end = l.body_begin + cut;
  return l;
}

Segments split_body(Bytes body) {
  Segments s;
  if (body.empty()) return s;
  std::size_t start = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != kSeparator) continue;
    s.separated = true;
    s.segments.push_back(body.subspan(start, i - start));
    start = i + 1;
  }
  if (!s.separated) {
    s.segments.push_back(body);
    return s;
  }
  if (start < body.size()) s.segments.push_back(body.subspan(start));
  if (s.segments.size() >= 2) {
    s.trailer_segment = s.segments.back();
    s.has_trailer_segment = true;
    s.segments.pop_back();
  }
  return s;
}

BaseEvents decode_base_events(const Segments& s, std::uint64_t limit) {
  BaseEvents out;
  Time last_time = 0;
  std::uint64_t count = 0;
  auto add = [&](Time t, std::uint8_t v) {
    out.times.push_back(t);
    out.values.push_back(v);
    ++count;
  };
  for (std::size_t j = 0; j < s.segments.size(); ++j) {
    const Bytes seg = s.segments[j];
    const bool is_last = j + 1 == s.segments.size();
    if (seg.size() < 2) {
      if (s.separated && seg.size() == 1 && !is_last) add(last_time, seg[0]);
      continue;
    }
    std::uint64_t sum = 0, step = 0;
    bool produced = false;
    Time prev = 0;
    std::size_t k = 0;
    for (; k + 2 <= seg.size(); k += 2) {
      const std::uint8_t b = seg[k], c = seg[k + 1];
      if (b >= 0x80) {
        out.descriptors.push_back({0, static_cast<std::uint8_t>(b & 0x7F)});
        continue;
      }
      if (b >= 0x40) {
        out.descriptors.push_back({1, static_cast<std::uint8_t>(b & 0x3F)});
        continue;
      }
      Time t;
      if (s.separated) {
        sum += b;
        t = sum == 0 ? last_time : last_time + 10 * (sum - 1);
      } else {
        if (count > limit) break;
        if (!produced) {
          step = 5 * std::uint64_t{b} + 5;
          t = step;
        } else {
          t = prev + step * b;
        }
      }
      add(t, c);
      prev = t;
      produced = true;
    }
    if (s.separated && !is_last && seg.size() - k == 1) {
      const Time t = produced ? prev + 10 : last_time;
      add(t, seg[k]);
      prev = t;
      produced = true;
    }
    if (s.separated && produced) last_time = prev;
  }
  return out;
}

std::vector<std::uint8_t> read_trailer_values(Bytes t, std::uint8_t body_last) {
  std::vector<std::uint8_t> values;
  const std::size_t n = t.size();
  if (n < 2) return values;
  std::size_t i = 0;
  while (i + 1 < n) {
    const std::uint8_t c = t[i];
    if (c == 0x00) {
      if (i + 2 < n && t[i + 1] == 0x00 && t[i + 2] == 0x00) break;
      ++i;
    } else if (c == 0x01) {
      if (i + 2 < n && t[i + 2] == 0x38) break;
      values.push_back(t[i + 1]);
      std::size_t pos = i + 2;
      read_varint(t, pos, n);
      i = pos;
    } else if (c == 0xC1 && bytes_at(t, i, kEndMark)) {
      break;
    } else if (c >= 0x80) {
      std::size_t pos = i;
      read_varint(t, pos, n);
      i = pos;
      if (body_last == 0xFF && std::find(values.begin(), values.end(), 0xFF) == values.end()) values.push_back(0xFF);
    } else if ((c >= 0x02 && c <= 0x08) || c == 0x27 || c == 0x38) {
      ++i;
    } else {
      values.push_back(c);
      ++i;
    }
  }
  return values;
}

std::uint64_t BlockEvents::event_count() const {
  std::uint64_t total = singles.size() + clock.count;
  for (const auto& p : projections) total += p.count;
  return total;
}

BlockEvents decode_value_block(Bytes block, std::size_t n, std::uint64_t& budget) {
  BlockEvents out;
  const BlockLayout l = find_layout(block);
  out.passed = l.passed;
  if (!l.has_body) return out;
  const std::uint64_t limit = l.header_count >= 4 ? l.header[3] - 1 : std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t extra_value = l.header_count >= 5 ? l.header[4] : 0;
  const Time extra_time = l.header_count >= 6 ? l.header[5] * 5 + 5 : 5;

  const Bytes body = block.subspan(l.body_begin, l.body_end - l.body_begin);
  const Segments segs = split_body(body);
  out.base = decode_base_events(segs, limit);
  std::vector<std::uint8_t> trailer_values;
  if (l.has_trailer) trailer_values = read_trailer_values(block.subspan(l.trailer_begin), body.empty() ? 0 : body.back());

  auto take = [&budget](std::uint64_t want) {
    const std::uint64_t got = std::min(want, budget);
    budget -= got;
    return got;
  };
  for (std::size_t k = 0; k < trailer_values.size(); ++k)
    if (k + 1 < n && take(1)) out.singles.push_back({k + 1, 0, trailer_values[k]});
  const std::size_t m = trailer_values.size() + 1;
  if (extra_value != 0 && m < n && take(1)) out.singles.push_back({m, extra_time, extra_value});

  const std::size_t last = n > 0 ? n - 1 : 0;
  std::size_t current = 0;
  if (!trailer_values.empty() || extra_value != 0) current = std::min(extra_value != 0 ? m + 1 : m, last);
  const std::size_t base_count = out.base.times.size();
  if (current < n && base_count > 0) out.projections.push_back({current++, 0, 0xFF, take(base_count)});
  for (const Descriptor& d : out.base.descriptors) {
    if (current >= n) break;
    out.projections.push_back({current++, d.offset, static_cast<std::uint8_t>(d.kind == 0 ? 0xFF : 0x01), take(base_count)});
  }

  const Bytes ts = segs.trailer_segment;
  if (segs.has_trailer_segment && ts.size() > 3 && (ts[0] & 0x40)) {
    const Time period = (Time{ts[2]} * 5) >> 1;
    const Time latest = base_count ? *std::max_element(out.base.times.begin(), out.base.times.end()) : 0;
    const Time until = latest + 10;
    if (period > 0) {
      out.clock.period = period;
      out.clock.first = ts[3] != '0' ? 1 : 0;
      out.clock.count = take(std::min<std::uint64_t>(until / period + 1, kMaxClockEvents));
    }
  }
  // Projections share the block's base events; drop them once unused.
  if (out.projections.empty()) out.base = BaseEvents{};
  out.base.descriptors.clear();
  out.base.descriptors.shrink_to_fit();
  return out;
}

namespace {

/// One ascending run of candidate times: base times plus an offset, an
/// arithmetic clock, or a sorted list.
struct TimeRun {
  const Time* times = nullptr;
  std::size_t count = 0;
  Time offset = 0;
  Time step = 0;  // for a clock run, whose times are k * step
  Time at(std::size_t k) const { return times ? times[k] + offset : k * step; }
};

/// Sorted distinct times of dense runs: one bit per time in their range.
std::vector<Time> bitmap_times(const std::vector<TimeRun>& runs, Time lo, Time hi) {
  std::vector<std::uint64_t> bits((hi - lo) / 64 + 1, 0);
  for (const TimeRun& run : runs)
    for (std::size_t k = 0; k < run.count; ++k) {
      const Time t = run.at(k) - lo;
      bits[t / 64] |= std::uint64_t{1} << (t % 64);
    }
  std::size_t count = 0;
  for (std::uint64_t w : bits) count += static_cast<std::size_t>(std::popcount(w));
  std::vector<Time> out;
  out.reserve(count);
  for (std::size_t i = 0; i < bits.size(); ++i)
    for (std::uint64_t w = bits[i]; w; w &= w - 1) out.push_back(lo + i * 64 + static_cast<Time>(std::countr_zero(w)));
  return out;
}

/// Sorted distinct times of sparse runs, by a k-way merge.
std::vector<Time> heap_merge_times(const std::vector<TimeRun>& runs, std::size_t total) {
  using Head = std::pair<Time, std::size_t>;  // (time, run)
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heap;
  std::vector<std::size_t> pos(runs.size(), 0);
  for (std::size_t r = 0; r < runs.size(); ++r)
    if (runs[r].count) heap.push({runs[r].at(0), r});
  std::vector<Time> out;
  out.reserve(std::min<std::size_t>(total, std::size_t{1} << 24));
  while (!heap.empty()) {
    auto [t, r] = heap.top();
    heap.pop();
    if (out.empty() || out.back() != t) out.push_back(t);
    // Drain this run while it stays at or below the next run's head.
    const TimeRun& run = runs[r];
    std::size_t k = ++pos[r];
    const Time bound = heap.empty() ? std::numeric_limits<Time>::max() : heap.top().first;
    while (k < run.count && run.at(k) <= bound) {
      const Time u = run.at(k);
      if (out.back() != u) out.push_back(u);
      k = ++pos[r];
    }
    if (k < run.count) heap.push({run.at(k), r});
  }
  out.shrink_to_fit();
  return out;
}

/// Sorted distinct times of ascending runs. Simulation times are usually
/// dense next to the number of events; then a bitmap over their range is far
/// cheaper than a merge and needs no more memory than the times themselves.
std::vector<Time> merge_times(const std::vector<TimeRun>& runs) {
  std::size_t total = 0;
  Time lo = std::numeric_limits<Time>::max(), hi = 0;
  for (const TimeRun& run : runs) {
    if (!run.count) continue;
    total += run.count;
    lo = std::min(lo, run.at(0));
    hi = std::max(hi, run.at(run.count - 1));
  }
  if (total == 0) return {};
  if (hi - lo < 64 * static_cast<std::uint64_t>(total)) return bitmap_times(runs, lo, hi);
  return heap_merge_times(runs, total);
}

struct TimedValue {
  Time time;
  std::uint64_t value;
};

/// Index of `t` in `times`, searching forward from `from` (galloping), as the
/// times of one signal come in ascending order.
std::size_t index_from(const std::vector<Time>& times, std::size_t from, Time t) {
  std::size_t lo = from, step = 1, hi = from;
  while (hi < times.size() && times[hi] < t) {
    lo = hi;
    hi += step;
    step *= 2;
  }
  hi = std::min(hi, times.size());
  return static_cast<std::size_t>(std::lower_bound(times.begin() + static_cast<std::ptrdiff_t>(lo),
                                                   times.begin() + static_cast<std::ptrdiff_t>(hi), t) -
                                  times.begin());
}

}  // namespace

void store_events(const std::vector<BlockEvents>& blocks, TraceRecord& record) {
  const std::size_t n = record.names.size();
  bool zero_fill = false;
  for (const auto& b : blocks) zero_fill |= b.passed;

  // Time steps: every event time, plus 0.
  std::vector<Time> singles_times{0};
  std::deque<std::vector<Time>> sorted_copies;  // stable addresses
  std::vector<TimeRun> runs;
  for (const auto& b : blocks) {
    for (const auto& e : b.singles) singles_times.push_back(e.time);
    // Several signals may share one offset; one run per offset suffices.
    std::map<Time, std::size_t> by_offset;
    for (const auto& p : b.projections) by_offset[p.offset] = std::max(by_offset[p.offset], p.count);
    const bool sorted = std::is_sorted(b.base.times.begin(), b.base.times.end());
    for (const auto& [offset, count] : by_offset) {
      const Time* times = b.base.times.data();
      if (!sorted) {
        // Projections take a prefix in collection order, so sort that prefix.
        sorted_copies.emplace_back(b.base.times.begin(), b.base.times.begin() + static_cast<std::ptrdiff_t>(count));
        std::sort(sorted_copies.back().begin(), sorted_copies.back().end());
        times = sorted_copies.back().data();
      }
      runs.push_back({times, count, offset, 0});
    }
    if (b.clock.count) runs.push_back({nullptr, b.clock.count, 0, b.clock.period});
  }
  std::sort(singles_times.begin(), singles_times.end());
  runs.push_back({singles_times.data(), singles_times.size(), 0, 0});
  record.timestamps = merge_times(runs);

  // Which blocks give each signal its events, in collection order. Most
  // signals draw on one projection only; their events are read straight
  // from the block's base events, never copied.
  struct Source {
    SignalId id;
    std::uint32_t block;
    std::uint8_t kind;  // 0 single, 1 projection, 2 clock
    std::size_t item;
  };
  std::vector<Source> sources;
  std::vector<bool> block_sorted(blocks.size());
  for (std::uint32_t bi = 0; bi < blocks.size(); ++bi) {
    const auto& b = blocks[bi];
    block_sorted[bi] = std::is_sorted(b.base.times.begin(), b.base.times.end());
    for (std::size_t k = 0; k < b.singles.size(); ++k) sources.push_back({b.singles[k].id, bi, 0, k});
    for (std::size_t k = 0; k < b.projections.size(); ++k)
      if (b.projections[k].count) sources.push_back({b.projections[k].id, bi, 1, k});
    if (b.clock.count) sources.push_back({0, bi, 2, 0});
  }
  std::stable_sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) { return a.id < b.id; });

  const auto& times = record.timestamps;
  // One signal's events arrive in time order (ties in collection order);
  // of several at one time the last wins, so each is stored only once the
  // next one shows a later time.
  SignalId id = 0;
  std::size_t index = 0;
  bool have_pending = false, any = false;
  TimedValue pending{};
  auto flush = [&] {
    index = index_from(times, index, pending.time);
    record.store.record_change(id, index, ValueView::bits(pending.value));
  };
  auto take_event = [&](const TimedValue& e) {
    if (!any) {
      any = true;
      if (zero_fill && id < n && e.time != 0) record.store.record_change(id, 0, ValueView::bits(0));
    }
    if (have_pending && e.time != pending.time) flush();
    pending = e;
    have_pending = true;
  };

  // A cursor walks one sorted source of a signal's events.
  struct Cursor {
    const BlockEvents* block;
    const Source* source;
    const std::vector<TimedValue>* sorted_copy;  // for a projection of unsorted base events
    std::size_t pos, count;
    TimedValue at() const {
      if (sorted_copy) return (*sorted_copy)[pos];
      switch (source->kind) {
        case 0: return {block->singles[source->item].time, block->singles[source->item].value};
        case 1: {
          const Event e = block->projection_event(block->projections[source->item], pos);
          return {e.time, e.value};
        }
        default: {
          const Event e = block->clock_event(pos);
          return {e.time, e.value};
        }
      }
    }
  };
  std::vector<Cursor> cursors;
  std::deque<std::vector<TimedValue>> copies;
  using Head = std::pair<Time, std::size_t>;  // (time, cursor); ties go to the earlier source
  std::priority_queue<Head, std::vector<Head>, std::greater<>> heap;

  const std::size_t ids = std::max<std::size_t>(n, 1);
  std::size_t si = 0;
  for (id = 0; id < ids; ++id) {
    index = 0;
    have_pending = any = false;
    cursors.clear();
    copies.clear();
    for (; si < sources.size() && sources[si].id == id; ++si) {
      const Source& src = sources[si];
      const BlockEvents& b = blocks[src.block];
      Cursor c{&b, &src, nullptr, 0, 0};
      if (src.kind == 0) c.count = 1;
      else if (src.kind == 2) c.count = b.clock.count;
      else {
        const Projection& p = b.projections[src.item];
        c.count = p.count;
        if (!block_sorted[src.block]) {
          auto& copy = copies.emplace_back();
          for (std::size_t k = 0; k < p.count; ++k) {
            const Event e = b.projection_event(p, k);
            copy.push_back({e.time, e.value});
          }
          std::stable_sort(copy.begin(), copy.end(), [](const TimedValue& x, const TimedValue& y) { return x.time < y.time; });
          c.sorted_copy = &copy;
        }
      }
      cursors.push_back(c);
    }
    if (cursors.size() == 1) {
      for (Cursor& c = cursors[0]; c.pos < c.count; ++c.pos) take_event(c.at());
    } else {
      for (std::size_t k = 0; k < cursors.size(); ++k)
        if (cursors[k].count) heap.push({cursors[k].at().time, k});
      while (!heap.empty()) {
        const std::size_t k = heap.top().second;
        heap.pop();
        Cursor& c = cursors[k];
        take_event(c.at());
        // Stay on this cursor while it comes first: before the next head,
        // or at its time from an earlier source.
        while (++c.pos < c.count) {
          const Time t = c.at().time;
          if (!heap.empty() && (t > heap.top().first || (t == heap.top().first && k > heap.top().second))) break;
          take_event(c.at());
        }
        if (c.pos < c.count) heap.push({c.at().time, k});
      }
    }
    if (have_pending) flush();
    if (!any && zero_fill && id < n) record.store.record_change(id, 0, ValueView::bits(0));
  }
  if (!times.empty()) record.store.hold_through(times.size() - 1);
  record.store.shrink_to_fit();
}

}  // namespace quarn::fsdb
