#include "trace/fst_validate.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include <zlib.h>

#include "fastlz.h"
#include "fstapi.h"
#include "lz4.h"
#include "trace/load_control.h"

namespace quarn {

namespace {

// The FST library trusts every size and offset it reads, so each one is
// checked here against the bytes that are really there before it runs.

constexpr double kEndianTest = 2.7182818284590452354;
constexpr std::uint64_t kHeaderMinBytes = 3 * 8;  // times and byte order mark
// Hierarchy entry tags besides the variable types 0..29.
constexpr std::uint8_t kTagAttrBegin = 252, kTagAttrEnd = 253, kTagScope = 254, kTagUpscope = 255;
constexpr std::uint8_t kMaxVarType = 29;
// Value-change block: begin/end time, traversal memory, then the frame.
constexpr std::size_t kVcFixedBytes = 24;
constexpr std::size_t kTimeTrailerBytes = 24;

std::string fail(const char* stage, const std::string& what) { return std::string(stage) + what; }
constexpr const char* kOpen = "FST open: ";
constexpr const char* kHier = "FST hierarchy: ";
constexpr const char* kSignals = "FST signals: ";

/// Bounds-checked reads over a byte range; any read past the end clears ok.
struct Bytes {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool ok = true;

  std::size_t left() const { return static_cast<std::size_t>(end - p); }
  std::uint8_t u8() {
    if (p >= end) return ok = false, 0;
    return *p++;
  }
  std::uint64_t be64() {
    if (left() < 8) return ok = false, p = end, 0;
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | *p++;
    return v;
  }
  /// LEB128 of at most max_bytes bytes (the library's varints never exceed
  /// that for their width; longer ones would overflow its shifts).
  std::uint64_t varint(int max_bytes = 10) {
    std::uint64_t v = 0;
    for (int i = 0; i < max_bytes; ++i) {
      if (p >= end) break;
      const std::uint8_t b = *p++;
      v |= std::uint64_t{b & 0x7Fu} << (7 * i);
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return 0;
  }
  std::int64_t svarint() {
    std::uint64_t v = 0;
    int shift = 0;
    for (int i = 0; i < 10; ++i) {
      if (p >= end) break;
      const std::uint8_t b = *p++;
      v |= std::uint64_t{b & 0x7Fu} << shift;
      shift += 7;
      if (!(b & 0x80)) {
        if (shift < 64 && (b & 0x40)) v |= ~std::uint64_t{0} << shift;
        return static_cast<std::int64_t>(v);
      }
    }
    ok = false;
    return 0;
  }
  /// Skips a NUL-terminated string.
  void cstring() {
    const void* nul = std::memchr(p, 0, left());
    if (!nul) {
      ok = false;
      p = end;
      return;
    }
    p = static_cast<const std::uint8_t*>(nul) + 1;
  }
  std::span<const std::uint8_t> take(std::uint64_t n) {
    if (n > left()) return ok = false, p = end, std::span<const std::uint8_t>{};
    std::span<const std::uint8_t> s(p, static_cast<std::size_t>(n));
    p += n;
    return s;
  }
};

bool plausible_output(std::uint64_t out_bytes, std::size_t in_bytes) {
  return out_bytes <= kFstMaxInflateRatio * in_bytes + 4096;
}

/// zlib (or, with window_bits 15+32, gzip) stream of exactly `size` bytes.
bool inflate_exact(std::span<const std::uint8_t> in, std::uint64_t size, std::vector<std::uint8_t>& out,
                   int window_bits = 15) {
  if (!plausible_output(size, in.size())) return false;
  out.resize(static_cast<std::size_t>(size));
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), std::numeric_limits<uInt>::max()));
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), std::numeric_limits<uInt>::max()));
  const int rc = inflate(&z, Z_FINISH);
  const bool whole = z.total_out == size && (rc == Z_STREAM_END || (window_bits > 15 && rc == Z_OK));
  inflateEnd(&z);
  return whole;
}

/// A stored-or-deflated section as the library reads it: raw when both sizes
/// agree, else a zlib stream.
bool unpack_section(std::span<const std::uint8_t> in, std::uint64_t size, std::vector<std::uint8_t>& out) {
  if (in.size() == size) {
    out.assign(in.begin(), in.end());
    return true;
  }
  return inflate_exact(in, size, out);
}

/// One LZ4 decode into `out`, over a buffer filled with `fill` first.
bool lz4_decode(std::span<const std::uint8_t> in, int n, std::vector<std::uint8_t>& out, std::uint8_t fill) {
  out.assign(static_cast<std::size_t>(n), fill);
  // Empty buffers may have null data; LZ4 must never offset a null pointer.
  char none = 0;
  const char* src = in.empty() ? &none : reinterpret_cast<const char*>(in.data());
  char* dst = out.empty() ? &none : reinterpret_cast<char*>(out.data());
  return LZ4_decompress_safe_partial(src, dst, static_cast<int>(in.size()), n, n) == n;
}

/// `in` decoded to exactly `size` bytes in `out`; `other` is scratch of the
/// same size.
bool lz4_exact(std::span<const std::uint8_t> in, std::uint64_t size, std::vector<std::uint8_t>& out,
               std::vector<std::uint8_t>& other) {
  if (!plausible_output(size, in.size()) || size > std::numeric_limits<int>::max() ||
      in.size() > std::numeric_limits<int>::max())
    return false;
  // On some malformed streams this LZ4 reports the full size yet leaves bytes
  // unwritten, and the library then walks whatever its buffer held. Decoding
  // over two different fillings shows every such byte.
  const int n = static_cast<int>(size);
  return lz4_decode(in, n, out, 0x00) && lz4_decode(in, n, other, 0xFF) && other == out;
}

/// `lz4_exact` with scratch kept per thread, for the many chains of a load.
bool lz4_exact(std::span<const std::uint8_t> in, std::uint64_t size, std::vector<std::uint8_t>& out) {
  thread_local std::vector<std::uint8_t> other;
  return lz4_exact(in, size, out, other);
}

struct BlockRef {
  FstBlock type;
  std::size_t begin;  // offset of the type byte
  std::uint64_t length;  // section length, counting its own 8 bytes
  std::span<const std::uint8_t> body() const;
  const std::uint8_t* base;
};

std::span<const std::uint8_t> BlockRef::body() const {
  return {base + begin + 9, static_cast<std::size_t>(length - 8)};
}

bool known_block(std::uint8_t t) { return t <= 8 || t == 255; }

bool is_value_block(FstBlock t) {
  return t == FstBlock::ValueChanges || t == FstBlock::ValueChangesAlias || t == FstBlock::ValueChangesAlias2;
}

/// Counts the header declares; absent from a header cut short.
struct HeaderCounts {
  bool present = false;
  std::uint64_t scopes = 0, vars = 0, handles = 0, value_blocks = 0;
};

/// What the hierarchy really holds.
struct HierarchyCounts {
  std::uint64_t scopes = 0, vars = 0;
};

void compare_count(LoadReport& report, const char* what, std::uint64_t declared, std::uint64_t found) {
  if (declared != found)
    report.note("FST header: declares " + std::to_string(declared) + " " + what + ", the file holds " +
                std::to_string(found));
}

std::string check_header(const BlockRef& b, bool& other_order, HeaderCounts& counts) {
  if (b.length - 8 < kHeaderMinBytes) return fail(kOpen, "header block too short");
  Bytes r{b.body().data(), b.body().data() + b.body().size()};
  r.be64();  // start time
  r.be64();  // end time
  std::uint8_t raw[8];
  std::memcpy(raw, r.take(8).data(), 8);
  double d;
  std::memcpy(&d, raw, 8);
  std::uint8_t swapped[8];
  for (int i = 0; i < 8; ++i) swapped[i] = raw[7 - i];
  double ds;
  std::memcpy(&ds, swapped, 8);
  if (d != kEndianTest && ds != kEndianTest) return fail(kOpen, "bad header (byte order mark)");
  other_order = d != kEndianTest;
  r.be64();  // memory the writer used
  counts.scopes = r.be64();
  counts.vars = r.be64();
  counts.handles = r.be64();
  counts.value_blocks = r.be64();
  counts.present = r.ok;
  return "";
}

std::string check_geometry(const BlockRef& b, FstLayout& layout) {
  if (b.length < 24) return fail(kOpen, "geometry block too short");
  Bytes r{b.body().data(), b.body().data() + b.body().size()};
  const std::uint64_t size = r.be64();
  const std::uint64_t handles = r.be64();
  std::vector<std::uint8_t> geom;
  if (!unpack_section(r.take(r.left()), size, geom)) return fail(kOpen, "corrupt geometry block");
  // Every handle takes at least one byte.
  if (handles > geom.size()) return fail(kOpen, "geometry lists more signals than it holds");
  layout.is_real.assign(static_cast<std::size_t>(handles), 0);
  layout.value_chars.assign(static_cast<std::size_t>(handles), 0);
  layout.is_event.assign(static_cast<std::size_t>(handles), 0);
  Bytes g{geom.data(), geom.data() + geom.size()};
  for (std::size_t i = 0; i < handles; ++i) {
    const std::uint64_t v = g.varint(5);
    if (!g.ok || v > 0xFFFFFFFFu) return fail(kOpen, "corrupt geometry block");
    if (v == 0) layout.is_real[i] = 1, layout.value_chars[i] = 8;  // 8 double bytes
    else layout.value_chars[i] = v == 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(v);
  }
  return "";
}

// The library keeps a name's first 513 bytes.
constexpr std::size_t kNameKept = 513;
constexpr std::uint8_t kPortType = 18;

std::string_view name_at(Bytes& e) {
  const std::uint8_t* begin = e.p;
  e.cstring();
  if (!e.ok) return {};
  const std::size_t size = static_cast<std::size_t>(e.p - begin) - 1;
  return {reinterpret_cast<const char*>(begin), std::min(size, kNameKept)};
}

// Walks unpacked hierarchy entries as the library does, handing each
// scope, upscope and variable (with its raw alias) to `on` until it returns
// false. Returns false for an entry cut short; the library would loop
// forever on one.
template <class On>
bool walk_entries(std::span<const std::uint8_t> entries, On on) {
  Bytes e{entries.data(), entries.data() + entries.size()};
  std::uint32_t handles = 0;  // the library counts in 32 bits
  while (e.left() && e.ok) {
    const std::uint8_t tag = e.u8();
    FstHierarchyEntry entry;
    std::uint64_t alias = 0;
    if (tag == kTagScope) {
      e.u8();
      entry.name = name_at(e);
      e.cstring();  // component
    } else if (tag == kTagUpscope) {
      entry.kind = FstHierarchyEntry::Kind::Upscope;
    } else if (tag == kTagAttrEnd) {
      continue;
    } else if (tag == kTagAttrBegin) {
      e.u8();
      e.u8();
      e.cstring();
      e.varint();
      continue;
    } else if (tag <= kMaxVarType) {
      entry.kind = FstHierarchyEntry::Kind::Var;
      entry.type = tag;
      e.u8();  // direction
      entry.name = name_at(e);
      entry.stored_length = static_cast<std::uint32_t>(e.varint(5));
      entry.length = entry.stored_length;
      if (tag == kPortType) entry.length = (entry.length - 2) / 3;  // "a b c" text of the port's three parts
      alias = e.varint(5);
      entry.handle = alias ? static_cast<std::uint32_t>(alias) : ++handles;
    } else {
      break;  // where the library stops reading, too
    }
    if (!e.ok) break;
    if (!on(entry, alias)) return true;
  }
  return e.ok;
}

bool unpack_hierarchy(const BlockRef& b, std::vector<std::uint8_t>& h) {
  Bytes r{b.body().data(), b.body().data() + b.body().size()};
  const std::uint64_t size = r.be64();
  if (b.type == FstBlock::Hierarchy) return inflate_exact(r.take(r.left()), size, h, 15 + 32);
  // The hierarchy is unpacked once: its scratch goes back at once rather
  // than staying with the thread as long as the process.
  std::vector<std::uint8_t> other;
  if (b.type == FstBlock::HierarchyLz4) return lz4_exact(r.take(r.left()), size, h, other);
  const std::uint64_t inner_size = r.varint();
  std::vector<std::uint8_t> inner;
  return r.ok && lz4_exact(r.take(r.left()), inner_size, inner, other) && lz4_exact(inner, size, h, other);
}

std::string read_hierarchy_block(const BlockRef& b, std::vector<std::uint8_t>& h) {
  if (b.length < 16) return fail(kHier, "hierarchy block too short");
  if (!unpack_hierarchy(b, h)) return fail(kHier, "corrupt hierarchy block");
  return "";
}

/// Without a geometry block each new handle's size is its variable's stored
/// length (a real's is its 8 double bytes, 0 a text of any length), as the
/// writer would have put it in the geometry.
std::string geometry_from_hierarchy(FstLayout& layout) {
  const bool whole = walk_entries(layout.hierarchy, [&](const FstHierarchyEntry& entry, std::uint64_t alias) {
    if (entry.kind != FstHierarchyEntry::Kind::Var || alias != 0) return true;
    const bool real = is_fst_real_type(entry.type);
    layout.is_real.push_back(real);
    layout.value_chars.push_back(real ? 8 : entry.stored_length);
    return true;
  });
  if (!whole) return fail(kHier, "truncated hierarchy entry");
  layout.is_event.assign(layout.is_real.size(), 0);
  return "";
}

std::string check_hierarchy(const std::vector<std::uint8_t>& h, std::uint64_t max_handle, HierarchyCounts& counts) {
  // The library trusts handles, so they are checked as it will count them.
  std::uint64_t handles = 0;
  bool beyond = false;
  const bool whole = walk_entries(h, [&](const FstHierarchyEntry& entry, std::uint64_t alias) {
    if (entry.kind == FstHierarchyEntry::Kind::Scope) ++counts.scopes;
    if (entry.kind != FstHierarchyEntry::Kind::Var) return true;
    ++counts.vars;
    beyond = alias == 0 ? ++handles > max_handle : alias > max_handle;
    return !beyond;
  });
  if (beyond) return fail(kHier, "signal handle beyond the signal count");
  if (!whole) return fail(kHier, "truncated hierarchy entry");
  return "";
}

std::string check_blackout(const BlockRef& b) {
  Bytes r{b.body().data(), b.body().data() + b.body().size()};
  const std::uint64_t n = r.varint(5);
  if (n > r.left() / 2 + 1) return fail(kSignals, "corrupt blackout block");
  for (std::uint64_t i = 0; i < n && r.ok; ++i) {
    r.u8();
    r.varint();
  }
  return r.ok ? "" : fail(kSignals, "corrupt blackout block");
}

std::string read_block(std::span<const std::uint8_t> image, std::size_t at, std::uint64_t len, bool first,
                       const FstLayout& layout, FstValueBlock& block, bool chain_heads) {
  const BlockRef b{static_cast<FstBlock>(image[at]), at, len, image.data()};
  const std::uint64_t body_len = b.length - 8;
  if (body_len < kVcFixedBytes + kTimeTrailerBytes + 8) return fail(kSignals, "value change block too short");
  const std::span<const std::uint8_t> body = b.body();
  Bytes r{body.data(), body.data() + body.size()};
  const Time begin_time = r.be64();
  r.be64();  // end time
  const std::uint64_t traversal = r.be64();
  if (!plausible_output(traversal, body.size())) return fail(kSignals, "corrupt value change block");
  block.begin_time = begin_time;

  // Time table: the block's last 24 bytes size it; its data sits just before.
  Bytes t{body.data() + body.size() - kTimeTrailerBytes, body.data() + body.size()};
  const std::uint64_t t_size = t.be64();
  const std::uint64_t t_packed = t.be64();
  const std::uint64_t t_items = t.be64();
  const std::size_t index_end = body.size() - kTimeTrailerBytes;  // chain index length field ends here
  if (t_packed > index_end - kVcFixedBytes - 8) return fail(kSignals, "corrupt time table");
  const std::size_t t_begin = index_end - static_cast<std::size_t>(t_packed);
  std::vector<std::uint8_t> tdata;
  if (!unpack_section(body.subspan(t_begin, static_cast<std::size_t>(t_packed)), t_size, tdata))
    return fail(kSignals, "corrupt time table");
  // The library reads time_table[0], so an empty table is corrupt too.
  if (t_items == 0 || t_items > tdata.size()) return fail(kSignals, "corrupt time table");
  Bytes td{tdata.data(), tdata.data() + tdata.size()};
  block.step_times.resize(static_cast<std::size_t>(t_items));
  Time now = 0;
  for (auto& step : block.step_times) {
    now += td.varint();
    if (!td.ok) return fail(kSignals, "corrupt time table");
    step = now;
  }

  // Frame: the values at the block's start, used from the first block only.
  const std::uint64_t f_size = r.varint();
  const std::uint64_t f_packed = r.varint();
  const std::uint64_t f_handles = r.varint();
  if (!r.ok || f_handles > layout.is_real.size()) return fail(kSignals, "corrupt frame");
  const std::span<const std::uint8_t> f_data = r.take(f_packed);
  if (!r.ok || static_cast<std::size_t>(r.p - body.data()) > t_begin - 8) return fail(kSignals, "corrupt frame");
  block.has_frame = first && begin_time != block.step_times[0];
  block.frame.clear();
  block.frame_handles = 0;
  if (block.has_frame) {
    std::uint64_t need = 0;
    for (std::size_t i = 0; i < f_handles; ++i) need += layout.value_chars[i];  // bytes the library copies per signal
    if (need > f_size || !unpack_section(f_data, f_size, block.frame)) return fail(kSignals, "corrupt frame");
    block.frame_handles = static_cast<std::size_t>(f_handles);
  }

  // Chain index: where each signal's changes sit, between the packing byte
  // and the index itself.
  const std::uint64_t vc_handles = r.varint();
  if (!r.ok || vc_handles > layout.is_real.size()) return fail(kSignals, "corrupt value change block");
  const std::size_t vc_start = static_cast<std::size_t>(r.p - body.data());
  const std::uint8_t pack = r.u8();
  if (!r.ok || vc_start + 1 > t_begin - 8) return fail(kSignals, "corrupt value change block");
  Bytes il{body.data() + t_begin - 8, body.data() + t_begin};
  const std::uint64_t index_len = il.be64();
  if (index_len > t_begin - 8 - (vc_start + 1)) return fail(kSignals, "corrupt chain index");
  const std::size_t index_pos = t_begin - 8 - static_cast<std::size_t>(index_len);
  const std::uint64_t chain_space = index_pos - vc_start;
  if (index_len == 0) return fail(kSignals, "corrupt chain index");
  block.pack = pack;
  block.chains = body.data() + vc_start;
  block.chains_at = static_cast<std::size_t>(block.chains - image.data());

  auto& offset = block.offset;
  auto& length = block.length;
  offset.assign(static_cast<std::size_t>(vc_handles) + 1, 0);
  length.assign(static_cast<std::size_t>(vc_handles) + 1, 0);
  Bytes ix{body.data() + index_pos, body.data() + t_begin - 8};
  std::uint64_t idx = 0, prev = 0, pos = 0;
  bool have_prev = false;
  std::int64_t prev_alias = 0;
  auto next_offset = [&](std::uint64_t delta) {
    pos += delta;
    if (pos >= chain_space || idx >= vc_handles) return false;
    offset[idx] = pos;
    if (have_prev) length[prev] = static_cast<std::int64_t>(pos - offset[prev]);
    prev = idx++;
    have_prev = true;
    return true;
  };
  auto alias_entry = [&](std::int64_t a) {
    if (idx >= vc_handles) return false;
    offset[idx] = 0;
    length[idx++] = a;
    return true;
  };
  while (ix.left()) {
    bool good;
    if (b.type == FstBlock::ValueChangesAlias2) {
      if (*ix.p & 1) {
        const std::int64_t v = ix.svarint() >> 1;
        good = v > 0 ? next_offset(static_cast<std::uint64_t>(v)) : alias_entry(v < 0 ? (prev_alias = v) : prev_alias);
      } else {
        const std::uint64_t run = ix.varint(5) >> 1;
        good = run <= vc_handles - idx;
        idx += good ? run : 0;
      }
    } else {
      const std::uint64_t v = ix.varint(5);
      if (v == 0) {
        good = alias_entry(-static_cast<std::int64_t>(ix.varint(5)));
      } else if (v & 1) {
        good = next_offset(v >> 1);
      } else {
        good = (v >> 1) <= vc_handles - idx;
        idx += good ? (v >> 1) : 0;
      }
    }
    if (!good || !ix.ok) return fail(kSignals, "corrupt chain index");
  }
  if (have_prev) length[prev] = static_cast<std::int64_t>(chain_space - offset[prev]);
  // Aliases point back at an earlier signal's chain, as the library resolves them.
  for (std::size_t i = 0; i < idx; ++i) {
    if (length[i] < 0 && offset[i] == 0) {
      const std::uint64_t target = static_cast<std::uint64_t>(-(length[i] + 1));
      if (target < i) offset[i] = offset[target], length[i] = length[target];
    }
  }
  block.handles = static_cast<std::size_t>(idx);
  for (std::size_t i = 0; i < idx; ++i)
    if (offset[i] != 0 && (length[i] <= 0 || offset[i] + static_cast<std::uint64_t>(length[i]) > chain_space))
      return fail(kSignals, "corrupt chain index");
  if (!chain_heads) return "";
  // Every chain starts with its unpacked size; all of them must fit the
  // traversal buffer the library allocates from the block's word.
  std::uint64_t unpacked = 0;
  for (std::size_t i = 0; i < idx; ++i) {
    if (offset[i] == 0) continue;
    Bytes c{body.data() + vc_start + offset[i], body.data() + vc_start + offset[i] + length[i]};
    const std::uint64_t size = c.varint(5);
    if (!c.ok || (size == 0 && !c.left())) return fail(kSignals, "corrupt value chain");
    unpacked += size ? size : c.left();
    if (unpacked > traversal + 66) return fail(kSignals, "value chains larger than the block declares");
  }
  return "";
}

}  // namespace

std::string check_fst_image(std::span<const std::uint8_t> image, FstLayout& layout, LoadControl* control,
                            bool chain_heads, const FstBlockVisitor& visit,
                            const FstSideHierarchy& side_hierarchy) {
  layout = FstLayout{};
  std::vector<BlockRef> blocks;
  std::size_t pos = 0;
  bool seen_skip = false;
  std::optional<std::size_t> unfinished_at;
  while (pos < image.size()) {
    if (image.size() - pos < 9) return fail(kOpen, "truncated block at byte " + std::to_string(pos));
    const std::uint8_t type = image[pos];
    std::uint64_t len = 0;
    for (int i = 1; i <= 8; ++i) len = (len << 8) | image[pos + i];
    if (pos == 0 && type != static_cast<std::uint8_t>(FstBlock::Header)) return fail(kOpen, "not an FST file");
    if (!known_block(type)) return fail(kOpen, "unknown block type " + std::to_string(type) + " at byte " + std::to_string(pos));
    // A writer that never finished leaves an empty skip block where its next
    // block would have gone, and what follows it is unfinished.
    if (type == static_cast<std::uint8_t>(FstBlock::Skip) && len == 0) {
      unfinished_at = pos;
      break;
    }
    if (len < 8 || len > image.size() - pos - 1)
      return fail(kOpen, "truncated block at byte " + std::to_string(pos));
    // The library opens every block but walks value changes only up to the
    // first skip block.
    if (type == static_cast<std::uint8_t>(FstBlock::Skip)) seen_skip = true;
    else if (!seen_skip || !is_value_block(static_cast<FstBlock>(type)))
      blocks.push_back({static_cast<FstBlock>(type), pos, len, image.data()});
    pos += 1 + static_cast<std::size_t>(len);
  }
  if (blocks.empty() || blocks.front().type != FstBlock::Header) return fail(kOpen, "not an FST file");

  HeaderCounts declared;
  if (auto e = check_header(blocks.front(), layout.swapped_doubles, declared); !e.empty()) return e;
  const BlockRef* geometry = nullptr;
  const BlockRef* hierarchy = nullptr;
  bool gz_hierarchy = false, lz4_hierarchy = false;
  std::size_t value_blocks = 0;
  for (const BlockRef& b : blocks) {
    switch (b.type) {
      case FstBlock::Geometry: geometry = &b; break;
      case FstBlock::Hierarchy: hierarchy = &b, gz_hierarchy = true; break;
      case FstBlock::HierarchyLz4:
      case FstBlock::HierarchyLz4Duo: hierarchy = &b, lz4_hierarchy = true; break;
      case FstBlock::ValueChanges:
      case FstBlock::ValueChangesAlias:
      case FstBlock::ValueChangesAlias2: ++value_blocks; break;
      default: break;
    }
  }
  const std::string unfinished =
      unfinished_at ? "unfinished file (empty block at byte " + std::to_string(*unfinished_at) + ")" : "";
  // Say which part is missing.
  if (value_blocks == 0) return fail(kOpen, unfinished_at ? unfinished : "no value change block");
  if (gz_hierarchy && lz4_hierarchy) return fail(kOpen, "two kinds of hierarchy block");
  if (hierarchy) {
    if (auto e = read_hierarchy_block(*hierarchy, layout.hierarchy); !e.empty()) return e;
  } else {
    if (!side_hierarchy) return fail(kOpen, "no hierarchy block");
    if (auto e = side_hierarchy(layout.hierarchy); !e.empty()) return e;
  }
  // The library unpacks every geometry block; the last one counts.
  for (const BlockRef& b : blocks)
    if (b.type == FstBlock::Geometry)
      if (auto e = check_geometry(b, layout); !e.empty()) return e;
  if (!geometry)
    if (auto e = geometry_from_hierarchy(layout); !e.empty()) return e;
  if (layout.is_real.empty()) return fail(kOpen, "no signals");
  // The geometry's signal count is the one the library uses, not the header's.
  HierarchyCounts held;
  if (auto e = check_hierarchy(layout.hierarchy, layout.is_real.size(), held); !e.empty()) return e;
  layout.vars = static_cast<std::size_t>(held.vars);

  bool first = true;
  FstValueBlock block;
  for (const BlockRef& b : blocks) {
    if (control && control->advance(b.length)) return kLoadInterrupted;
    std::string e;
    if (b.type == FstBlock::Blackout) {
      e = check_blackout(b);
    } else if (is_value_block(b.type)) {
      e = read_block(image, b.begin, b.length, first, layout, block, chain_heads);
      // Initial values from before the first step get a step of their own.
      if (e.empty() && first && block.frame_handles && block.begin_time < block.step_times.front())
        layout.times.push_back(block.begin_time);
      first = false;
      // Blocks meet at a shared time step; anything not ascending is dropped.
      // Room for this block's steps, and no more for a file of one block:
      // doubling would leave the trace's times up to twice their size.
      if (layout.times.capacity() - layout.times.size() < block.step_times.size())
        layout.times.reserve(std::max(layout.times.size() + block.step_times.size(), 2 * layout.times.capacity()));
      for (const Time now : block.step_times)
        if (layout.times.empty() || now > layout.times.back()) layout.times.push_back(now);
      layout.value_blocks.emplace_back(b.begin, b.length);
      if (e.empty() && visit) e = visit(block, layout.value_blocks.size() - 1, layout);
    }
    if (!e.empty()) return e;
  }
  if (unfinished_at) {
    // The header's counts are the writer's last guess; what was kept is told instead.
    const std::size_t n = layout.value_blocks.size();
    layout.report.note(std::string(kOpen) + unfinished + "; read the " + std::to_string(n) + " complete value change block" +
                       (n == 1 ? "" : "s") + " before it, times " + std::to_string(layout.times.front()) + " to " +
                       std::to_string(layout.times.back()));
  } else if (declared.present) {
    compare_count(layout.report, "scopes", declared.scopes, held.scopes);
    compare_count(layout.report, "variables", declared.vars, held.vars);
    compare_count(layout.report, "signal handles", declared.handles, layout.is_real.size());
    compare_count(layout.report, "value change blocks", declared.value_blocks, layout.value_blocks.size());
  }
  return "";
}

bool is_fst_real_type(std::uint8_t type) {
  return type == FST_VT_VCD_REAL || type == FST_VT_VCD_REAL_PARAMETER || type == FST_VT_VCD_REALTIME ||
         type == FST_VT_SV_SHORTREAL;
}

bool walk_fst_hierarchy(const FstLayout& layout, const std::function<bool(const FstHierarchyEntry&)>& visit) {
  bool stopped = false;
  walk_entries(layout.hierarchy, [&](const FstHierarchyEntry& entry, std::uint64_t) { return !(stopped = !visit(entry)); });
  return !stopped;
}

std::string read_value_block(std::span<const std::uint8_t> image, std::pair<std::size_t, std::uint64_t> at,
                             bool first, const FstLayout& layout, FstValueBlock& block, bool chain_heads) {
  return read_block(image, at.first, at.second, first, layout, block, chain_heads);
}

bool unpack_chain(const FstValueBlock& block, std::size_t h, std::vector<std::uint8_t>& buf,
                  std::span<const std::uint8_t>& data) {
  return unpack_chain_bytes(block.chain(h), block.pack, buf, data);
}

bool unpack_chain_bytes(std::span<const std::uint8_t> whole, std::uint8_t pack, std::vector<std::uint8_t>& buf,
                        std::span<const std::uint8_t>& data) {
  Bytes c{whole.data(), whole.data() + whole.size()};
  const std::uint64_t size = c.varint(5);
  const std::span<const std::uint8_t> packed = c.take(c.left());
  if (!c.ok) return false;
  if (!size) {
    data = packed;
    return true;
  }
  bool good;
  if (pack == '4') {
    good = lz4_exact(packed, size, buf);
  } else if (pack == 'F') {
    good = plausible_output(size, packed.size()) && size <= std::numeric_limits<int>::max() &&
           packed.size() <= std::numeric_limits<int>::max();
    if (good) {
      buf.resize(static_cast<std::size_t>(size));
      const int n = fastlz_decompress(packed.data(), static_cast<int>(packed.size()), buf.data(), static_cast<int>(size));
      good = n == static_cast<int>(size);
    }
  } else {
    good = inflate_exact(packed, size, buf);
  }
  data = buf;
  return good;
}

}  // namespace quarn
