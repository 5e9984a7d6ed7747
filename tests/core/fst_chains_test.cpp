// The reader decodes value chains itself; the FST library's own block walk
// (values as text, converted as the reader always did) is the reference.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "fst_test_writer.h"
#include "trace/fst_chains.h"
#include "trace/fst_file.h"
#include "trace/fst_guard.h"
#include "trace/fst_trace.h"
#include "trace/fst_validate.h"
#include "trace/fst_values.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FstWriter;
using test::TempDir;

using Changes = std::map<std::uint32_t, std::vector<std::pair<Time, SignalValue>>>;  // by handle

struct LibraryWalk {
  const FstLayout* layout;
  Changes changes;

  static void on_value(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value) {
    auto* w = static_cast<LibraryWalk*>(user);
    SignalValue v;
    if (w->layout->is_real[handle - 1]) {
      double d;
      std::memcpy(&d, value, 8);
      v = SignalValue::real(d);
    } else {
      const auto n = w->layout->value_chars[handle - 1];
      v = convert_value(std::string_view(reinterpret_cast<const char*>(value), n));
    }
    w->changes[handle].emplace_back(time, v);
  }
  static void on_varlen(void* user, std::uint64_t time, std::uint32_t handle, const unsigned char* value,
                        std::uint32_t len) {
    FstValueScratch scratch;
    const ValueView v = fst_text_view(std::string_view(reinterpret_cast<const char*>(value), len), scratch);
    static_cast<LibraryWalk*>(user)->changes[handle].emplace_back(time, to_value(v));
  }
};

struct Coverage {
  std::size_t blocks = 0;
  bool frame = false;
};

// Both sides of one file.
void walk_both(const fs::path& path, Changes& library, Changes& ours, Coverage& seen) {
  FstFile file;
  FstLayout layout;
  ASSERT_EQ(file.open(path.string()), "");
  ASSERT_EQ(check_fst_image(file.bytes(), layout), "");

  void* ctx = nullptr;
  int ok = 0;
  LibraryWalk walk{&layout, {}};
  const bool ran = quarn_fst_open(file.library_path().c_str(), &ctx) && ctx &&
                   quarn_fst_iter_blocks(ctx, &LibraryWalk::on_value, &LibraryWalk::on_varlen, &walk, &ok) && ok;
  quarn_fst_close(ctx);
  EXPECT_TRUE(ran) << path;
  library = std::move(walk.changes);

  FstValueScratch scratch;
  std::vector<std::uint8_t> buf;
  for (std::size_t k = 0; k < layout.value_blocks.size(); ++k) {
    FstValueBlock block;
    EXPECT_EQ(read_value_block(file.bytes(), layout.value_blocks[k], k == 0, layout, block), "") << path;
    seen.blocks++;
    seen.frame |= block.has_frame;
    std::size_t offset = 0;
    for (std::size_t h = 0; block.has_frame && h < block.frame_handles; ++h) {
      const FstSignalShape shape{layout.value_chars[h], layout.is_real[h] != 0, layout.swapped_doubles};
      if (shape.chars)
        ours[static_cast<std::uint32_t>(h + 1)].emplace_back(
            block.begin_time, to_value(fst_frame_view(block.frame.data() + offset, shape, scratch)));
      offset += shape.chars;
    }
    for (std::size_t h = 0; h < block.handles; ++h) {
      if (!block.offset[h]) continue;
      const FstSignalShape shape{layout.value_chars[h], layout.is_real[h] != 0, layout.swapped_doubles};
      std::span<const std::uint8_t> data;
      EXPECT_TRUE(unpack_chain(block, h, buf, data)) << path << " handle " << h + 1;
      auto& out = ours[static_cast<std::uint32_t>(h + 1)];
      EXPECT_TRUE(decode_fst_chain(data, shape, block.step_times.size(), scratch,
                                   [&](std::uint64_t step, const ValueView& v, bool) {
                                     out.emplace_back(block.step_times[step], to_value(v));
                                   }))
          << path << " handle " << h + 1;
    }
  }
}

Coverage expect_same_changes(const fs::path& path) {
  Changes library, ours;
  Coverage seen;
  walk_both(path, library, ours, seen);
  EXPECT_EQ(library.size(), ours.size()) << path;
  if (library.size() != ours.size()) return seen;
  for (const auto& [handle, changes] : library) {
    const auto& mine = ours[handle];
    EXPECT_EQ(changes.size(), mine.size()) << path << " handle " << handle;
    if (changes.size() != mine.size()) continue;
    for (std::size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(changes[i].first, mine[i].first) << path << " handle " << handle << " change " << i;
      // Same variant and payload bytes, so NaN reals compare too.
      EXPECT_TRUE(identical(view_of(changes[i].second), view_of(mine[i].second)))
          << path << " handle " << handle << " change " << i;
    }
  }
  return seen;
}

struct Packing {
  FstWriter::Options options;
  unsigned seed;
};

class FstChains : public testing::TestWithParam<Packing> {};

TEST_P(FstChains, DecodedChangesMatchTheLibrarysWalk) {
  TempDir dir;
  const auto file = dir.path("mixed.fst");
  test::write_random_blocks(file, GetParam().options, GetParam().seed);
  const Coverage seen = expect_same_changes(file);
  EXPECT_GE(seen.blocks, 3u);
  EXPECT_TRUE(seen.frame);
}

INSTANTIATE_TEST_SUITE_P(Packings, FstChains,
                         testing::Values(Packing{{FST_WR_PT_ZLIB, false, true}, 1},
                                         Packing{{FST_WR_PT_LZ4, false, true}, 2},
                                         Packing{{FST_WR_PT_FASTLZ, false, true}, 3},
                                         Packing{{FST_WR_PT_LZ4, true, true}, 4}));

// Many signals over many blocks: the reader holds only so many blocks' chain
// indexes at once and must carry every signal from one such batch of blocks
// to the next, frame values included.
std::string digits16(std::size_t v) {
  std::string d(16, '0');
  for (int i = 0; i < 16; ++i)
    if (v >> (15 - i) & 1) d[i] = '1';
  return d;
}

TEST(FstChains, SignalsCarryAcrossBatchesOfBlocks) {
  constexpr std::size_t kSignals = 40000, kBlocks = 60, kPerBlock = 40;
  TempDir dir;
  const auto file = dir.path("many.fst");
  // expect[s][b]: digits of signal s at index b (block b has one step).
  std::vector<std::vector<std::string>> expect(kSignals, std::vector<std::string>(kBlocks));
  const std::string first_value = digits16(0xA5A5);
  {
    FstWriter w(file, {FST_WR_PT_LZ4, false, true});
    w.scope("top");
    std::vector<fstHandle> h;
    for (std::size_t s = 0; s < kSignals; ++s) h.push_back(w.var(("s" + std::to_string(s)).c_str(), 16));
    w.upscope();
    w.value(h[7], first_value.c_str());  // before the first step: the first block's frame
    expect[7][0] = first_value;
    for (std::size_t b = 0; b < kBlocks; ++b) {
      w.time(10 + 10 * b);
      for (std::size_t k = 0; k < kPerBlock; ++k) {
        const std::size_t s = (b * 331 + k * 499) % kSignals;
        // Distinct within the block: the writer would share equal chains
        // through aliases, and its alias code shifts negative numbers.
        const std::string v = digits16((s ^ (b * 7919)) & 0xFFFF);
        w.value(h[s], v.c_str());
        expect[s][b] = v;
      }
      w.flush();
    }
  }
  // The writer starts every signal at X (s7 at what was set before the first
  // step); values hold until the next change.
  for (std::size_t s = 0; s < kSignals; ++s) {
    auto& row = expect[s];
    if (row[0].empty()) row[0] = std::string(16, 'x');
    for (std::size_t b = 1; b < kBlocks; ++b)
      if (row[b].empty()) row[b] = row[b - 1];
  }

  {
    // More chain index entries (signals times blocks) than the reader's
    // 2^20 per batch, so there are at least two batches.
    FstFile f;
    FstLayout layout;
    ASSERT_EQ(f.open(file.string()), "");
    ASSERT_EQ(check_fst_image(f.bytes(), layout), "");
    ASSERT_GT(layout.value_blocks.size() * kSignals, std::size_t{1} << 20);
  }
  auto r = FstTrace::from_file(file.string());
  ASSERT_TRUE(std::holds_alternative<RecordTrace>(r)) << std::get<std::string>(r);
  const RecordTrace& t = std::get<RecordTrace>(r);
  // Index 0 is the frame's own step, before the first block's.
  ASSERT_EQ(t.max_index(), kBlocks);
  for (std::size_t s = 0; s < kSignals; s += 7) {
    const std::string frame = s == 7 ? first_value : std::string(16, 'x');
    ASSERT_EQ(t.signal_value("top.s" + std::to_string(s), 0), convert_value(frame)) << "s" << s;
    for (std::size_t b = 0; b < kBlocks; ++b) {
      ASSERT_EQ(t.signal_value("top.s" + std::to_string(s), b + 1), convert_value(expect[s][b]))
          << "s" << s << " block " << b << " expected " << expect[s][b];
    }
  }
}

// Packed digits against the same digits as text, across word boundaries.
TEST(FstChains, PackedBitsReadLikeTheirDigits) {
  std::mt19937 rng(7);
  FstValueScratch packed_scratch, text_scratch;
  for (std::uint32_t bits = 2; bits <= 200; ++bits) {
    for (int round = 0; round < 8; ++round) {
      std::string digits(bits, '0');
      std::vector<std::uint8_t> bytes((bits + 7) / 8, 0);
      const std::uint32_t zeros = round % 2 ? rng() % bits : 0;  // leading zeros shrink the number
      for (std::uint32_t j = zeros; j < bits; ++j)
        if (rng() % 2) digits[j] = '1', bytes[j / 8] |= static_cast<std::uint8_t>(0x80 >> (j % 8));
      const SignalValue want = to_value(fst_value_view(digits, text_scratch));
      EXPECT_TRUE(to_value(fst_packed_bits_view(bytes.data(), bits, packed_scratch)) == want) << digits;
    }
  }
}

TEST(FstChains, CutShortOrOutOfRangeEntriesFail) {
  FstValueScratch scratch;
  auto count = [](std::uint64_t, const ValueView&, bool) {};
  const FstSignalShape vec8{8, false, false};
  const std::uint8_t good[] = {0x00, 0xA5, 0x02, 0x5A};  // steps 0 and 1, packed
  EXPECT_TRUE(decode_fst_chain(good, vec8, 2, scratch, count));
  EXPECT_FALSE(decode_fst_chain(good, vec8, 1, scratch, count));  // step 1 of a one-step block
  EXPECT_FALSE(decode_fst_chain(std::span(good, 3), vec8, 2, scratch, count));  // value cut short
  const std::uint8_t endless[] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x01};  // a varint past five bytes
  EXPECT_FALSE(decode_fst_chain(endless, vec8, 2, scratch, count));
  const std::uint8_t long_text[] = {0x00, 0x09, 'a'};  // string longer than the chain
  EXPECT_FALSE(decode_fst_chain(long_text, FstSignalShape{0, false, false}, 2, scratch, count));
}

}  // namespace
}  // namespace quarn
