// SHM transition files: header search, the four value strategies, how blocks
// move through the signals, the work caps, and merging files into one trace.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "shm_images.h"
#include "signal/store.h"
#include "trace/shm_reader.h"
#include "trace/shm_transitions.h"

namespace quarn {
namespace {

using namespace shm_test;
using namespace std::string_literals;

// Events as "id@time=bit", space separated, in decoding order.
std::string events_text(const std::vector<shm::ShmEvent>& events) {
  std::string out;
  for (const auto& e : events) {
    if (!out.empty()) out += ' ';
    out += std::to_string(e.id) + "@" + std::to_string(e.time) + "=" + std::to_string(int{e.bit});
  }
  return out;
}

// ---- File acceptance and header search -----------------------------------------

TEST(TransitionFile, SkippedWhenShortForeignOrWithoutSignals) {
  TrnImage ok;
  EXPECT_FALSE(shm::decode_transitions(ok.bytes.substr(0, 23), 1));
  EXPECT_FALSE(shm::decode_transitions(TrnImage(0, 0xA19511BE).bytes, 1));
  EXPECT_FALSE(shm::decode_transitions(ok.bytes, 0));
  const auto bare = shm::decode_transitions(ok.bytes, 1);
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->events.empty());
  EXPECT_FALSE(bare->end_time);
}

class TimeUnit : public testing::TestWithParam<std::pair<std::uint32_t, Time>> {};

TEST_P(TimeUnit, ScalesTheEndTime) {
  TrnImage t(GetParam().first);
  t.header(12345, 0, 0, 0, 0);  // N = 0: no block, but its end time counts
  const auto f = shm::decode_transitions(t.bytes, 1);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->end_time, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Codes, TimeUnit,
                         testing::Values(std::pair{5u, Time{123}}, std::pair{6u, Time{1234}},
                                         std::pair{0u, Time{12345}}, std::pair{7u, Time{12345}},
                                         std::pair{0xFFFFFFFFu, Time{12345}}));

TEST(HeaderSearch, NeedsAllSixtyFourHeaderBytes) {
  TrnImage t;
  t.header(7, 0, 0, 0, 0);
  EXPECT_EQ(shm::find_blocks(t.bytes).max_e, 7u);
  EXPECT_EQ(shm::find_blocks(t.bytes.substr(0, t.bytes.size() - 1)).max_e, 0u);
}

TEST(HeaderSearch, ResumesAfterEachHeader) {
  TrnImage t;
  const std::size_t a = t.header(5, 0, 0, 0, 0);
  // A marker inside the first header (its E lands in an unused field).
  t.bytes[a + 8] = 0;
  t.bytes[a + 9] = '\x1B';
  t.bytes[a + 10] = '\x22';
  t.bytes[a + 11] = 0;
  put32(t.bytes, a + 8 + 28, 999);
  EXPECT_EQ(shm::find_blocks(t.bytes).max_e, 5u);
  t.header(40, 0, 0, 0, 0);  // directly behind the first: found
  EXPECT_EQ(shm::find_blocks(t.bytes).max_e, 40u);
}

struct UsableCase {
  const char* label;
  std::uint32_t n, q, s, v;
  bool usable;
};

class BlockUsable : public testing::TestWithParam<UsableCase> {};

TEST_P(BlockUsable, OffsetsMustLieInTheFile) {
  const UsableCase& c = GetParam();
  TrnImage t;
  t.header(50, c.n, c.q, c.s, c.v);
  t.pad(200 - t.bytes.size());  // file length 200
  const auto scan = shm::find_blocks(t.bytes);
  EXPECT_EQ(scan.blocks.size(), c.usable ? 1u : 0u);
  EXPECT_EQ(scan.max_e, 50u);
}

INSTANTIATE_TEST_SUITE_P(Cases, BlockUsable,
                         testing::Values(UsableCase{"valid", 1, 200, 100, 150, true},
                                         UsableCase{"empty_values_at_last_byte", 1, 199, 199, 199, true},
                                         UsableCase{"no_steps", 0, 200, 100, 150, false},
                                         UsableCase{"start_after_end", 1, 200, 151, 150, false},
                                         UsableCase{"trailer_past_file", 1, 201, 100, 150, false},
                                         UsableCase{"start_at_file_end", 1, 200, 200, 200, false},
                                         UsableCase{"values_past_file", 1, 200, 100, 201, false}),
                         [](const testing::TestParamInfo<UsableCase>& i) { return std::string(i.param.label); });

// ---- Value strategies ------------------------------------------------------------

// Trailer holding a 0x13 record at V+1 with time bytes r+4, r+6, r+7 and the
// end pair at V+9.
std::string short_record(unsigned char kind, unsigned char b4, unsigned char b6, unsigned char b7) {
  std::string t(12, '\0');
  t[1] = static_cast<char>(kind);
  t[3] = '\x7C';
  t[5] = static_cast<char>(b4);
  t[7] = static_cast<char>(b6);
  t[8] = static_cast<char>(b7);
  t[9] = '\x01';
  t[10] = '\x8F';
  return t;
}

// Trailer holding a 0x12 record at V+1 with time bytes r+1, r+4, r+5 and the
// end pair at V+7.
std::string long_record(unsigned char b1, unsigned char b4, unsigned char b5) {
  std::string t(12, '\0');
  t[1] = '\x12';
  t[2] = static_cast<char>(b1);
  t[3] = '\x7C';
  t[5] = static_cast<char>(b4);
  t[6] = static_cast<char>(b5);
  t[7] = '\x01';
  t[8] = '\x81';
  return t;
}

struct DecodeCase {
  const char* label;
  std::uint64_t names;
  std::vector<BlockFields> blocks;
  std::string events;
  std::uint32_t unit = 0;
  shm::DecodeLimits limits = {};
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, EmitsEvents) {
  const DecodeCase& c = GetParam();
  TrnImage t(c.unit);
  for (const BlockFields& b : c.blocks) t.block(b);
  const auto f = shm::decode_transitions(t.bytes, c.names, c.limits);
  ASSERT_TRUE(f);
  EXPECT_EQ(events_text(f->events), c.events);
}

const std::string kDeltaBytes = "\xA0\x80\x60\x00"s;  // N = 2: W - N = 2

INSTANTIATE_TEST_SUITE_P(
    InitialValuesAndToggles, Decode,
    testing::Values(
        DecodeCase{"level_bytes_then_toggles", 3, {{300, 2, "\x10\x08\x10", ""}},
                   "0@0=1 1@0=0 2@0=1 0@100=0 1@100=1 2@100=0 0@200=1 1@200=0 2@200=1"},
        DecodeCase{"flag_bytes_toggle_from_level_bits", 2, {{300, 2, "\x40\x00"s, ""}},
                   "0@0=1 1@0=0 0@100=1 1@100=1 0@200=0 1@200=0"},
        DecodeCase{"no_toggles_without_end_time", 1, {{0, 3, "\x10", ""}}, "0@0=1"},
        DecodeCase{"every_covered_byte_must_fit", 2, {{0, 1, "\x10\x20", ""}}, ""},
        DecodeCase{"bytes_past_the_names_ignored", 1, {{0, 1, "\x10\x20", ""}}, "0@0=1"},
        DecodeCase{"toggle_times_scaled", 1, {{3000, 1, "\x08", ""}}, "0@0=0 0@15=1", 5}),
    [](const testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.label); });

INSTANTIATE_TEST_SUITE_P(
    TransitionRecord, Decode,
    testing::Values(
        DecodeCase{"short_time", 1, {{200, 1, "\x10", short_record(0x13, 0x00, 0x00, 0x44)}}, "0@0=1 0@5=0"},
        DecodeCase{"short_time_scaled_to_zero_still_toggles",
                   1,
                   {{200, 1, "\x10", short_record(0x13, 0x00, 0x00, 0x44)}},
                   "0@0=1 0@0=0 0@1=0",
                   5},
        DecodeCase{"long_time", 1, {{2000, 1, "\x10", long_record(0x00, 0x00, 0x01)}}, "0@0=1 0@250=0"},
        DecodeCase{"long_time_high_bits", 1, {{4000, 1, "\x08", long_record(0xA0, 0x00, 0x00)}},
                   "0@0=0 0@414=1"},
        DecodeCase{"record_alone_without_initial_value", 1,
                   {{200, 1, "\x20", short_record(0x13, 0x00, 0x00, 0x44)}}, "0@5=1"},
        // Failed decodes: no event, no delta stage, toggles as usual.
        DecodeCase{"short_code_zero", 1, {{200, 1, "\x10", short_record(0x13, 0x00, 0x00, 0x00)}},
                   "0@0=1 0@100=0"},
        DecodeCase{"short_code_all_ones", 1, {{200, 1, "\x10", short_record(0x13, 0x60, 0x05, 0x54)}},
                   "0@0=1 0@100=0"},
        DecodeCase{"short_time_after_end", 1, {{2, 1, "\x10", short_record(0x13, 0x00, 0x00, 0x44)}},
                   "0@0=1 0@1=0"},
        DecodeCase{"long_code_zero", 1, {{2000, 1, "\x10", long_record(0x00, 0x00, 0x00)}}, "0@0=1 0@1000=0"},
        DecodeCase{"long_code_all_ones", 1, {{2000, 1, "\x10", long_record(0xA0, 0x26, 0xF5)}},
                   "0@0=1 0@1000=0"},
        DecodeCase{"kind_11_never_decodes", 1, {{200, 1, "\x10", short_record(0x11, 0x00, 0x00, 0x44)}},
                   "0@0=1 0@100=0"},
        DecodeCase{"kind_14_never_decodes", 1, {{200, 1, "\x10", short_record(0x14, 0x00, 0x00, 0x44)}},
                   "0@0=1 0@100=0"},
        DecodeCase{"short_record_cut_by_end_pair", 1,
                   {{200, 1, "\x10", "\x00\x13\x00\x7C\x00\x00\x00\x00\x01\x8F\x00\x00"s}}, "0@0=1 0@100=0"},
        DecodeCase{"trailer_under_twelve_bytes_ignored", 1,
                   {{200, 1, "\x10", short_record(0x13, 0x00, 0x00, 0x44).substr(0, 11)}}, "0@0=1 0@100=0"},
        DecodeCase{"wide_block_goes_on_to_delta", 3, {{300, 2, kDeltaBytes, short_record(0x13, 0, 0, 0x44)}},
                   "0@0=1 1@0=0 2@0=1 0@100=0 1@200=1 2@200=0"}),
    [](const testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Delta, Decode,
    testing::Values(
        DecodeCase{"xor_steps", 3, {{300, 2, kDeltaBytes, ""}}, "0@0=1 1@0=0 2@0=1 0@100=0 1@200=1 2@200=0"},
        DecodeCase{"length_must_exceed_steps_by_2_to_4", 3, {{300, 2, "\xA0\x80\x60\x00\x00\x00\x00"s, ""}}, ""},
        DecodeCase{"needs_two_steps", 3, {{300, 1, "\xA0\x80\x60\x00"s, ""}}, ""},
        DecodeCase{"needs_end_time", 3, {{0, 2, kDeltaBytes, ""}}, ""},
        DecodeCase{"not_after_initial_values", 4, {{300, 2, "\x10\x10\x10\x10"s, ""}},
                   "0@0=1 1@0=1 2@0=1 3@0=1 0@100=0 1@100=0 2@100=0 3@100=0 0@200=1 1@200=1 2@200=1 3@200=1"},
        // Eight lanes although the block covers four; the next block starts
        // at signal 4.
        DecodeCase{"eight_lanes_base_moves_by_cover", 10, {{300, 2, "\xFF\x00\x00\x00"s, ""}, {0, 1, "\x08", ""}},
                   "0@0=1 1@0=1 2@0=1 3@0=1 4@0=1 5@0=1 6@0=1 7@0=1 0@100=1 1@100=1 2@100=1 3@100=1 "
                   "0@200=0 1@200=0 2@200=0 3@200=0 4@0=0"}),
    [](const testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.label); });

INSTANTIATE_TEST_SUITE_P(
    BlocksAndSignals, Decode,
    testing::Values(
        DecodeCase{"empty_block_moves_one_signal", 3, {{0, 1, "", ""}, {0, 1, "\x10", ""}}, "1@0=1"},
        DecodeCase{"undecoded_block_leaves_one_signal_per_later_block", 5,
                   {{0, 1, "\xFF\xFF", ""}, {0, 1, "\x10", ""}, {0, 1, "\x08", ""}}, "3@0=1 4@0=0"},
        DecodeCase{"undecoded_block_floor_is_one", 2,
                   {{0, 1, "\xFF", ""}, {0, 1, "\x10", ""}, {0, 1, "\x10", ""}, {0, 1, "\x08", ""}}, "1@0=1"},
        DecodeCase{"blocks_past_the_names_emit_nothing", 1,
                   {{0, 1, "\x10", ""}, {300, 2, kDeltaBytes, ""}, {200, 1, "\x10", short_record(0x13, 0, 0, 0x44)}},
                   "0@0=1"},
        // Signal 4 moved in the first block's delta stage, so the second block
        // does not toggle it.
        DecodeCase{"toggle_skipped_when_signal_already_moved", 5,
                   {{300, 2, "\xF8\x08\x00\x00"s, ""}, {300, 2, "\x10", ""}},
                   "0@0=1 1@0=1 2@0=1 3@0=1 4@0=1 4@100=0 0@100=1 1@100=1 2@100=1 3@100=1 "
                   "0@200=0 1@200=0 2@200=0 3@200=0 4@0=1"},
        DecodeCase{"toggle_runs_when_signal_only_set_at_zero", 5,
                   {{300, 2, "\xF8\x00\x00\x00"s, ""}, {300, 2, "\x10", ""}},
                   "0@0=1 1@0=1 2@0=1 3@0=1 4@0=1 0@100=1 1@100=1 2@100=1 3@100=1 "
                   "0@200=0 1@200=0 2@200=0 3@200=0 4@0=1 4@100=0 4@200=1"}),
    [](const testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.label); });

INSTANTIATE_TEST_SUITE_P(
    Caps, Decode,
    testing::Values(
        DecodeCase{"toggle_block_over_cap_skipped_later_ones_fit",
                   3,
                   {{70, 6, "\x10", ""}, {60, 5, "\x10", ""}, {50, 4, "\x10", ""}},
                   "0@0=1 0@10=0 0@20=1 0@30=0 0@40=1 0@50=0 0@60=1 1@0=1 2@0=1 2@10=0 2@20=1 2@30=0 2@40=1",
                   0,
                   {10, 10'000'000}},
        DecodeCase{"default_toggle_cap", 1, {{300, 10'000'001, "\x10", ""}}, "0@0=1"},
        DecodeCase{"delta_over_cap_not_decoded", 3, {{300, 2, kDeltaBytes, ""}}, "", 0, {10'000'000, 5}},
        DecodeCase{"delta_at_cap_decoded", 3, {{300, 2, kDeltaBytes, ""}}, "0@0=1 1@0=0 2@0=1 0@100=0 1@200=1 2@200=0",
                   0, {10'000'000, 6}}),
    [](const testing::TestParamInfo<DecodeCase>& i) { return std::string(i.param.label); });

// ---- Merging files into timestamps and values -----------------------------------

// Values of signal `id` at every index: "0", "1" or "E" (Empty).
std::string column_text(const SignalStore& store, SignalId id, std::size_t count) {
  std::string out;
  for (Index i = 0; i < count; ++i) {
    const SignalValue v = store.get(id, i);
    out += v.tag() == ValueTag::Empty ? "E" : v.tag() == ValueTag::Bits ? std::to_string(v.as_bits()) : "?";
  }
  return out;
}

// Against a dense table filled the plain way: random files of random events
// (out of time order, repeated times, several files; a later event at one
// time wins), some signals with long histories (more than 64 events, several
// files) so that every ordering path is taken.
TEST(AssembleValues, MatchesADenseTable) {
  std::uint32_t seed = 2024;
  auto next = [&](std::uint32_t bound) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % bound;
  };
  for (int round = 0; round < 40; ++round) {
    const std::uint32_t names = 1 + next(6);
    std::vector<shm::ShmFileEvents> files(1 + next(3));
    for (auto& f : files) {
      const std::uint32_t count = next(round % 4 == 0 ? 400 : 30);
      for (std::uint32_t k = 0; k < count; ++k)
        f.events.push_back({Time{next(50)} * 10, next(names), static_cast<std::uint8_t>(next(2))});
      if (next(2)) f.end_time = 600 + next(3);
    }
    std::vector<Time> times;
    SignalStore store;
    shm::assemble_values(files, names, times, store);

    std::vector<Time> expected_times{0};
    for (const auto& f : files) {
      for (const auto& e : f.events) expected_times.push_back(e.time);
      if (f.end_time) expected_times.push_back(*f.end_time);
    }
    std::sort(expected_times.begin(), expected_times.end());
    expected_times.erase(std::unique(expected_times.begin(), expected_times.end()), expected_times.end());
    ASSERT_EQ(times, expected_times) << round;

    // -1: not set at this index.
    std::vector<std::vector<int>> table(names, std::vector<int>(times.size(), -1));
    for (const auto& f : files)
      for (const auto& e : f.events)
        table[e.id][std::lower_bound(times.begin(), times.end(), e.time) - times.begin()] = e.bit;
    for (std::uint32_t id = 0; id < names; ++id) {
      std::string want;
      int current = 0;
      for (std::size_t i = 0; i < times.size(); ++i) {
        if (table[id][i] >= 0) current = table[id][i];
        want += std::to_string(current);
      }
      ASSERT_EQ(column_text(store, id, times.size()), want) << "round " << round << " signal " << id;
    }
  }
}

// Truncated and mutated files: the fuzz target (fuzz/fuzz_shm.cpp).

}  // namespace
}  // namespace quarn
