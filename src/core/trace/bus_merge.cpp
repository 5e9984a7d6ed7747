#include "trace/bus_merge.h"

#include <algorithm>
#include <string>

#include "signal/bitpack.h"
#include "signal/column.h"
#include "signal/store.h"

namespace quarn {

namespace {

// Logic element of a one-bit value; X for anything else.
std::uint8_t bit_element(const ValueView& v) {
  if (v.tag == ValueTag::Bits && v.scalar <= 1) return static_cast<std::uint8_t>(v.scalar);
  if (v.tag == ValueTag::Logic && v.size == 1) return *static_cast<const std::uint8_t*>(v.data);
  return kLogicX;
}

}  // namespace

void merge_bus_bits(const SignalStore& store, const std::vector<BusBit>& bits, Width width, Column& out) {
  std::vector<const Column*> columns;
  columns.reserve(bits.size());
  for (const BusBit& b : bits) columns.push_back(store.column(b.id));
  merge_bus_bits(columns, bits, width, out);
}

void merge_bus_bits(const std::vector<const Column*>& columns, const std::vector<BusBit>& bits, Width width,
                    Column& out) {
  std::vector<ColumnCursor> cursors;
  std::vector<Index> changes;
  for (const Column* c : columns) {
    cursors.emplace_back(c);
    if (!c) continue;
    for (std::size_t k = 0; k < c->run_count(); ++k) changes.push_back(c->run_start(k));
  }
  std::sort(changes.begin(), changes.end());
  changes.erase(std::unique(changes.begin(), changes.end()), changes.end());

  std::vector<std::uint8_t> logic(width);
  std::string digits(width, '0');
  BinaryScratch scratch;
  for (const Index t : changes) {
    std::fill(logic.begin(), logic.end(), kLogicX);
    bool any = false;
    for (std::size_t j = 0; j < bits.size(); ++j) {
      if (!columns[j] || t >= columns[j]->length()) continue;
      const ValueView v = cursors[j].at(t);
      if (v.tag == ValueTag::Empty) continue;
      any = true;
      logic[width - 1 - bits[j].position] = bit_element(v);
    }
    if (!any) continue;
    const bool two_state = std::all_of(logic.begin(), logic.end(), [](std::uint8_t e) { return e <= kLogic1; });
    if (!two_state) {
      out.record_change(t, ValueView::logic(logic.data(), logic.size()));
      continue;
    }
    for (Width p = 0; p < width; ++p) digits[p] = static_cast<char>('0' + logic[p]);
    out.record_change(t, parse_binary_view(digits, scratch));
  }
}

}  // namespace quarn
