#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "signal/types.h"
#include "trace/load_report.h"

namespace quarn {

class LoadControl;

/// Output larger than this many times the input cannot come from zlib (at
/// most about 1032:1) nor LZ4 (about 255:1), so such a declared size is
/// corrupt and refused before anything is allocated for it.
inline constexpr std::uint64_t kFstMaxInflateRatio = 1100;

/// Block types of an FST file.
enum class FstBlock : std::uint8_t {
  Header = 0,
  ValueChanges = 1,
  Blackout = 2,
  Geometry = 3,
  Hierarchy = 4,
  ValueChangesAlias = 5,
  HierarchyLz4 = 6,
  HierarchyLz4Duo = 7,
  ValueChangesAlias2 = 8,
  Wrapper = 254,  // the whole rest of the file gzipped
  Skip = 255,
};

/// What the structure check learns from an FST image.
struct FstLayout {
  /// Distinct time steps of all value-change blocks, ascending; first the
  /// first block's start when its frame holds values from before its steps.
  std::vector<Time> times;
  /// Per handle index: the library hands this signal's values as 8 native
  /// double bytes (true) or as text (false).
  std::vector<std::uint8_t> is_real;
  /// Per handle index: characters of a text value (0: variable length).
  std::vector<std::uint32_t> value_chars;
  /// Per handle index: an event variable (set from the hierarchy).
  std::vector<std::uint8_t> is_event;
  /// Variable entries of the hierarchy (names, aliases included).
  std::size_t vars = 0;
  /// The hierarchy's entries, unpacked (see `walk_fst_hierarchy`).
  std::vector<std::uint8_t> hierarchy;
  /// Doubles are stored in the other byte order than this machine's.
  bool swapped_doubles = false;
  /// Value-change blocks the library would walk, in file order: offset of the
  /// type byte and section length.
  std::vector<std::pair<std::size_t, std::uint64_t>> value_blocks;
  /// Header counts that disagree with the blocks (which are what is loaded).
  LoadReport report;
};

/// One entry of an FST hierarchy, as the FST library hands it over.
struct FstHierarchyEntry {
  enum class Kind : std::uint8_t { Scope, Upscope, Var };
  Kind kind = Kind::Scope;
  /// Variable type (0..29, FST_VT_* of the library) of a Var.
  std::uint8_t type = 0;
  /// Name of a Scope or Var, cut after 513 bytes as the library cuts it.
  std::string_view name;
  /// Declared length of a Var; a port's as its signal's width.
  std::uint32_t length = 0;
  /// Length as stored: a port's counts the characters of its value text.
  std::uint32_t stored_length = 0;
  /// 1-based handle of a Var: the one it aliases, else the next new one.
  std::uint32_t handle = 0;
};

/// A variable type whose values are stored as doubles.
bool is_fst_real_type(std::uint8_t type);

/// Hands the hierarchy entries that `check_fst_image` kept in `layout` to
/// `visit` in file order, as the library would walk them (attributes are
/// passed over). Stops when `visit` returns false; then returns false.
bool walk_fst_hierarchy(const FstLayout& layout, const std::function<bool(const FstHierarchyEntry&)>& visit);

/// One value-change block's parts, read by `read_value_block`. The chain of
/// handle index h, when it has one, is `chain(h)`: its unpacked size (a
/// varint, 0 when stored plain) and then its bytes.
struct FstValueBlock {
  /// The block's time table, one entry per step (not necessarily distinct).
  std::vector<Time> step_times;
  Time begin_time = 0;
  /// Packing of the chains: '4' LZ4, 'F' FastLZ, anything else zlib.
  std::uint8_t pack = 0;
  /// Initial values of the first `frame_handles` handles, one after the
  /// other (value_chars bytes each); only for a first block that starts
  /// before its first step.
  std::vector<std::uint8_t> frame;
  std::size_t frame_handles = 0;
  bool has_frame = false;
  /// Handles 0 .. handles-1 are indexed; `offset` 0 means no chain.
  std::size_t handles = 0;
  std::vector<std::uint64_t> offset;
  std::vector<std::int64_t> length;
  const std::uint8_t* chains = nullptr;
  std::size_t chains_at = 0;  // offset of `chains` in the image

  std::span<const std::uint8_t> chain(std::size_t h) const {
    return {chains + offset[h], static_cast<std::size_t>(length[h])};
  }
};

/// Reads the block at `at` (an entry of `layout.value_blocks`) of an image
/// `check_fst_image` accepted; `first` for the first of them. Chain contents
/// are left to `unpack_chain`; with `chain_heads` false even their first
/// bytes are not read (a lazy open touches only the block's head and tail).
/// Returns "" or a message starting "FST signals: ".
std::string read_value_block(std::span<const std::uint8_t> image, std::pair<std::size_t, std::uint64_t> at,
                             bool first, const FstLayout& layout, FstValueBlock& block, bool chain_heads = true);

/// Unpacks chain `h` of `block` into `buf` (or views it in place when stored
/// plain) and sets `data` to its entries. Returns false for a corrupt chain.
bool unpack_chain(const FstValueBlock& block, std::size_t h, std::vector<std::uint8_t>& buf,
                  std::span<const std::uint8_t>& data);
/// `unpack_chain` of a chain's bytes `whole` (size varint, then the packed
/// entries) packed as `pack` says.
bool unpack_chain_bytes(std::span<const std::uint8_t> whole, std::uint8_t pack, std::vector<std::uint8_t>& buf,
                        std::span<const std::uint8_t>& data);

/// Sees each value-change block as `check_fst_image` reads it, in file
/// order, with its number among them and the layout as far as it is known:
/// no step of the block is after the last of `times` then, and later blocks
/// only add times after it, so the block's steps find their final indices.
/// Returns "" or a message that stops the check.
using FstBlockVisitor = std::function<std::string(const FstValueBlock&, std::size_t, const FstLayout&)>;

/// Supplies the hierarchy entries of an image that holds no hierarchy block
/// (a writer keeps them in a side file until it finishes): fills `entries`
/// and returns "", or returns why there are none.
using FstSideHierarchy = std::function<std::string(std::vector<std::uint8_t>& entries)>;

/// Checks the block structure of an unpacked FST image before the FST library
/// walks it: every block type known and inside the file, the header, the
/// geometry, the hierarchy entries, and each value-change block's frame and
/// time table (decompressed here; ratio-bounded, so a few bytes cannot ask
/// for gigabytes). The contents of the value chains are checked as they are
/// decoded (fst_chains.h). Returns "" and fills `layout`, or a message that starts
/// with "FST open: ", "FST hierarchy: " or "FST signals: ".
/// Stops with kLoadInterrupted between blocks once `control` says stop. With
/// `chain_heads` false the chains' declared sizes are not summed, so the
/// chains' pages are not read. `visit`, when given, sees each value-change
/// block once, so that a reader needs not read the blocks again.
/// A file whose writer was interrupted ends in an empty block: the complete
/// blocks before it are kept and `layout.report` says so. Without a hierarchy
/// block the entries come from `side_hierarchy` (refused when it is empty);
/// without a geometry block the signals' sizes come from the hierarchy.
std::string check_fst_image(std::span<const std::uint8_t> image, FstLayout& layout, LoadControl* control = nullptr,
                            bool chain_heads = true, const FstBlockVisitor& visit = {},
                            const FstSideHierarchy& side_hierarchy = nullptr);

}  // namespace quarn
