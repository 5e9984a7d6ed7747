#pragma once

// Checks that two VCD traces answer alike: names, scopes, times, ids, widths,
// and every id's value at every index (viewed, so big traces stay cheap).

#include <gtest/gtest.h>

#include "signal/column.h"
#include "trace/vcd_trace.h"

namespace quarn {

inline void expect_same_trace(const VcdTrace& a, const VcdTrace& b) {
  ASSERT_EQ(a.signal_names(), b.signal_names());
  ASSERT_EQ(a.scopes(), b.scopes());
  ASSERT_EQ(a.record().timestamps, b.record().timestamps);
  ASSERT_EQ(a.record().id_count, b.record().id_count);
  for (const std::string& name : a.signal_names()) {
    ASSERT_EQ(a.signal_id(name), b.signal_id(name)) << name;
    ASSERT_EQ(a.signal_width(name), b.signal_width(name)) << name;
  }
  for (SignalId id = 0; id < a.record().id_count; ++id) {
    ColumnCursor x(a.column(id)), y(b.column(id));
    for (Index i = 0; i <= a.max_index() + 1; ++i) ASSERT_TRUE(identical(x.at(i), y.at(i))) << "id " << id << " at " << i;
  }
}

}  // namespace quarn
