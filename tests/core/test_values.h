#pragma once

// Helpers shared by the core tests: readable printing of values, a
// bit-exact comparison that tells -0.0 from 0.0 and matches a NaN to itself,
// the value of a load that must succeed, and loads stopped at every poll.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>
#include <variant>

#include "signal/signal_value.h"
#include "trace/load_control.h"
#include "trace/trace_record.h"

namespace quarn {

inline std::string describe(const SignalValue& v) {
  std::ostringstream out;
  switch (v.tag()) {
    case ValueTag::Bits: out << "Bits(" << v.as_bits() << ")"; break;
    case ValueTag::WideBits:
      out << "WideBits{";
      for (std::size_t i = 0; i < v.as_wide_bits().size(); ++i) out << (i ? "," : "") << std::hex << "0x" << v.as_wide_bits()[i];
      out << "}";
      break;
    case ValueTag::Logic:
      out << "Logic{";
      for (std::size_t i = 0; i < v.as_logic().size(); ++i) out << (i ? "," : "") << int{v.as_logic()[i]};
      out << "}";
      break;
    case ValueTag::Real: {
      std::uint64_t bits;
      const double d = v.as_real();
      std::memcpy(&bits, &d, sizeof bits);
      out << "Real(" << d << " = 0x" << std::hex << bits << ")";
      break;
    }
    case ValueTag::Text: out << "Text(\"" << v.as_text() << "\")"; break;
    case ValueTag::Empty: out << "Empty"; break;
  }
  return out.str();
}

/// Lets GoogleTest print values in failure messages.
inline void PrintTo(const SignalValue& v, std::ostream* os) { *os << describe(v); }

/// Same variant and same payload bits (Real compared by bit pattern).
inline bool bit_identical(const SignalValue& a, const SignalValue& b) {
  if (a.tag() != b.tag()) return false;
  if (a.tag() != ValueTag::Real) return a == b;
  const double x = a.as_real(), y = b.as_real();
  return std::memcmp(&x, &y, sizeof x) == 0;
}

/// What a load that must succeed gave; an error fails the test.
template <class T>
T loaded(std::variant<T, std::string> r) {
  if (const auto* e = std::get_if<std::string>(&r)) ADD_FAILURE() << "unexpected failure: " << *e;
  return std::get<T>(std::move(r));
}

/// `load(control)` stopped at poll 1, 2, ... in turn: each stop unwinds with
/// kLoadInterrupted (ASan checks that nothing leaks), and the first load never
/// stopped, after more than `min_polls` polls, gives the trace it always gives.
template <class Load>
void expect_stops_at_every_poll(const Load& load, int min_polls) {
  struct Poll {
    int calls = 0, stop_at = 0;
    static bool at(void* self) { return ++static_cast<Poll*>(self)->calls >= static_cast<Poll*>(self)->stop_at; }
  };
  LoadControl never;
  const auto whole = load(never);
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(whole)) << std::get<std::string>(whole);
  for (int stop_at = 1;; ++stop_at) {
    Poll poll{0, stop_at};
    LoadControl control(&Poll::at, &poll, 0);
    const auto got = load(control);
    if (control.stopped()) {
      ASSERT_TRUE(std::holds_alternative<std::string>(got)) << "stopped at poll " << stop_at;
      EXPECT_EQ(std::get<std::string>(got), kLoadInterrupted);
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<RecordTrace>(got));
    EXPECT_EQ(std::get<RecordTrace>(got).signal_names(), std::get<RecordTrace>(whole).signal_names());
    EXPECT_EQ(std::get<RecordTrace>(got).max_index(), std::get<RecordTrace>(whole).max_index());
    EXPECT_GT(stop_at, min_polls);
    return;
  }
}

}  // namespace quarn
