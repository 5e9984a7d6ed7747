#include "trace/fsdb_blocks.h"

#include "trace/load_control.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_set>

#include <zlib.h>

namespace quarn::fsdb {

namespace {

uInt clamp_uint(std::size_t n) { return n > UINT_MAX ? UINT_MAX : static_cast<uInt>(n); }

}  // namespace

ZlibInflater::ZlibInflater() : z_(std::make_unique<z_stream>()) {}

ZlibInflater::~ZlibInflater() {
  if (ready_) inflateEnd(z_.get());
}

std::optional<Inflated> ZlibInflater::inflate(Bytes input) {
  if (input.size() < 2) return std::nullopt;
  if (!ready_) {
    *z_ = z_stream{};
    if (inflateInit(z_.get()) != Z_OK) return std::nullopt;
    ready_ = true;
  } else if (inflateReset(z_.get()) != Z_OK) {
    return std::nullopt;
  }
  // A first pass into 1 MiB and a second into 4 MiB after a shortage give
  // the same bytes, count and failures as one pass into 4 MiB: the second
  // pass restarts from the same input, and a failure either pass meets is a
  // failure of the whole attempt. So one pass does.
  if (scratch_.size() < kSecondInflateBuffer) scratch_.resize(kSecondInflateBuffer);
  z_->next_in = const_cast<Bytef*>(input.data());
  z_->avail_in = clamp_uint(input.size());
  z_->next_out = scratch_.data();
  z_->avail_out = static_cast<uInt>(kSecondInflateBuffer);
  const int rc = ::inflate(z_.get(), Z_FINISH);
  // Z_BUF_ERROR: the buffer filled up or the input ended first; both keep
  // what came out. Anything else but the stream's end is a failure.
  if (rc != Z_STREAM_END && rc != Z_BUF_ERROR && rc != Z_OK) return std::nullopt;
  const std::size_t produced = kSecondInflateBuffer - z_->avail_out;
  if (produced == 0) return std::nullopt;
  Inflated out;
  out.bytes.assign(scratch_.begin(), scratch_.begin() + static_cast<std::ptrdiff_t>(produced));
  out.consumed = static_cast<std::size_t>(z_->next_in - input.data());
  return out;
}

std::optional<Inflated> try_zlib_decompress(Bytes input) {
  ZlibInflater inflater;
  return inflater.inflate(input);
}

bool inflate_stream_impl(Bytes input, void* ctx, void (*sink)(void*, const std::uint8_t*, std::size_t)) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  std::uint8_t out[64 * 1024];
  std::size_t offset = 0;
  int rc = Z_OK;
  for (;;) {
    if (z.avail_in == 0 && offset < input.size()) {
      z.next_in = const_cast<Bytef*>(input.data() + offset);
      z.avail_in = clamp_uint(input.size() - offset);
      offset += z.avail_in;
    }
    z.next_out = out;
    z.avail_out = sizeof out;
    rc = ::inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = sizeof out - z.avail_out;
    if (produced) sink(ctx, out, produced);
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && offset >= input.size()) break;  // input ended first
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

std::size_t count_strings(Bytes w) {
  std::size_t count = 0;
  std::size_t p = 0;
  while (p < w.size()) {
    if (!is_graphic(w[p])) {
      ++p;
      continue;
    }
    std::size_t e = p + 1;
    while (e < w.size() && is_printable(w[e])) ++e;
    if (e >= w.size()) break;  // not ended inside the window
    if (w[e] == 0x00 && e - p >= 3) ++count;
    p = e + 1;
  }
  return count;
}

BlockTraits classify_block(Bytes b) {
  BlockTraits t;
  const std::size_t n = b.size();
  const Bytes window = b.first(std::min(n, kClassifyWindow));
  t.marked = contains_bytes(window, "8C");
  t.string_count = count_strings(window);
  t.artefact = contains_bytes(window, "simv") || contains_bytes(window, ".log") || contains_bytes(window, "csrc") ||
               contains_bytes(window, "daidir");
  if (n >= 11) {
    std::size_t c1 = 0;
    for (std::size_t k = 0; k + 2 < n; k += 3)
      if (b[k] == 0x01 && b[k + 2] >= 0x40 && b[k + 2] <= 0x7F) ++c1;
    std::size_t c2 = 0;
    if (n >= 21) {
      const std::size_t start_limit = std::min(n, kWordTestWindow) - 3;
      for (std::size_t k = 8; k < start_limit && k + 4 <= n; k += 4)
        if ((read_le(b, k, 4) & 0xFFFFFC) < 100) ++c2;
    }
    t.tabular = c1 > 5 || c2 > 3;
  }
  static constexpr std::uint8_t kBang[] = {0x21, 0x00, 0x00};
  t.bang_terminated = n >= 3 && n <= 119 && bytes_at(b, n - 3, kBang);
  t.c1_terminated = n >= 4 && (bytes_at(b, n - 4, kEndMark) || (n >= 8 && bytes_at(b, n - 8, kEndMark)));
  return t;
}

HeaderFields read_header_fields(Bytes file) {
  HeaderFields h;
  if (file.size() < kHeaderMinFileSize || read_le(file, kHeaderCheckOffset, 4) > kHeaderCheckMax) return h;
  h.table_offset = read_le(file, kTableOffsetField, 8);
  h.width_offset = read_le(file, kWidthOffsetField, 8);
  return h;
}

std::vector<TableEntry> read_block_table(Bytes file, std::uint64_t t) {
  std::vector<TableEntry> out;
  // The table needs its 24-byte head strictly inside the file.
  if (t == 0 || !fits(t, kTableEntriesStart + 1, file.size())) return out;
  const std::size_t count = read_le(file, t + kTableCountField, 2);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t at = t + kTableEntriesStart + kTableEntrySize * i;
    if (!fits(at, kTableEntrySize, file.size())) break;
    const std::uint64_t offset = read_le(file, at, 4);
    const std::uint64_t length = read_le(file, at + 8, 4);
    if (offset != 0 && offset < file.size()) out.push_back({offset, length});
  }
  return out;
}

std::vector<FoundBlock> scan_zlib_blocks(Bytes file, ZlibInflater& inflater, LoadControl* control) {
  std::vector<FoundBlock> found;
  std::size_t p = 0;
  std::size_t polled_at = 0;
  while (p + 2 <= file.size() && found.size() < kMaxFoundBlocks) {
    if (control && control->advance(p - polled_at)) break;
    polled_at = p;
    const void* hit = std::memchr(file.data() + p, 0x78, file.size() - 1 - p);
    if (!hit) break;
    p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - file.data());
    if (!is_zlib_flag(file[p + 1])) {
      ++p;
      continue;
    }
    auto got = inflater.inflate(file.subspan(p));
    if (!got) {
      ++p;
      continue;
    }
    const std::size_t step = std::max<std::size_t>(got->consumed, 2);
    found.push_back({p, std::move(got->bytes)});
    p += step;
  }
  return found;
}

BlockLists sort_found_blocks(const std::vector<FoundBlock>& found, const std::vector<TableEntry>& table) {
  BlockLists lists;
  std::unordered_set<std::uint64_t> table_offsets;
  for (const auto& e : table) table_offsets.insert(e.offset);
  const bool has_table = !table.empty();
  for (std::size_t block = 0; block < found.size(); ++block) {
    const FoundBlock& f = found[block];
    if (table_offsets.count(f.offset)) continue;
    const BlockTraits t = classify_block(f.bytes);
    auto value_rule = [&] {
      if (!has_table) lists.values.push_back(block);
    };
    auto by_count = [&] {
      if (t.string_count >= 11) lists.rich_names.push_back(block);
      else if (t.string_count >= 3) lists.plain_names.push_back(block);
    };
    if (t.artefact || t.tabular) continue;
    if (t.marked) {
      if (t.string_count >= 6) {
        lists.marked_names.push_back(block);
        lists.values.push_back(block);
      } else {
        value_rule();
      }
    } else if (t.bang_terminated) {
      if (t.string_count >= 3) by_count();
    } else if (t.string_count < 3 && t.c1_terminated) {
      value_rule();
    } else {
      by_count();
    }
  }
  return lists;
}

std::optional<std::vector<std::uint8_t>> inflate_table_block(Bytes file, const TableEntry& e, ZlibInflater& inflater) {
  // Offsets were kept only inside the file; lengths are 32-bit, so no sum wraps.
  const std::size_t begin = e.offset;
  const std::size_t end = std::min<std::uint64_t>(e.offset + e.length, file.size());
  if (auto got = inflater.inflate(file.subspan(begin, end - begin))) return std::move(got->bytes);
  const std::size_t end2 = std::min<std::uint64_t>(e.offset + e.length + 2, file.size());
  if (end2 == end) return std::nullopt;
  if (auto got = inflater.inflate(file.subspan(begin, end2 - begin))) return std::move(got->bytes);
  return std::nullopt;
}

}  // namespace quarn::fsdb
