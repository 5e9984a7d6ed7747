#pragma once

// Newer FSDB layout: the zlib streams of the file, how each is classified, and
// the lists of name and value blocks that the later phases read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "trace/fsdb_facts.h"

typedef struct z_stream_s z_stream;

namespace quarn {
class LoadControl;
}

namespace quarn::fsdb {

/// Output of one inflate attempt: the bytes and how many input bytes it took.
struct Inflated {
  std::vector<std::uint8_t> bytes;
  std::size_t consumed = 0;
};

/// Inflates a zlib stream at the start of `input` into at most 4 MiB (what
/// does not fit is lost). Nothing when the input is shorter than 2 bytes, the
/// data is corrupt, a preset dictionary is asked for, or no byte comes out. A
/// stream cut short by the input's end gives what was inflated so far.
std::optional<Inflated> try_zlib_decompress(Bytes input);

/// `try_zlib_decompress` with its inflater and 4 MiB scratch buffer kept
/// between calls, for scans that try many candidate streams.
class ZlibInflater {
 public:
  ZlibInflater();
  ~ZlibInflater();
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  std::optional<Inflated> inflate(Bytes input);

 private:
  std::unique_ptr<z_stream> z_;
  bool ready_ = false;
  std::vector<std::uint8_t> scratch_;
};

/// Inflates a whole zlib stream that must end inside `input`, without a size
/// cap, handing the output to `sink(const uint8_t*, size_t)` in pieces. False
/// on corrupt data, a preset dictionary, or a stream that does not end.
template <class Sink>
bool inflate_stream(Bytes input, Sink&& sink);
bool inflate_stream_impl(Bytes input, void* ctx, void (*sink)(void*, const std::uint8_t*, std::size_t));
template <class Sink>
bool inflate_stream(Bytes input, Sink&& sink) {
  return inflate_stream_impl(input, &sink, [](void* c, const std::uint8_t* p, std::size_t n) {
    (*static_cast<std::remove_reference_t<Sink>*>(c))(p, n);
  });
}

/// The classification measures of one inflated block.
struct BlockTraits {
  bool marked = false;          // "8C" inside the first 1024 bytes
  std::size_t string_count = 0;  // NUL-ended printable strings of 3+ chars there
  bool artefact = false;        // mentions simulator build or log files
  bool tabular = false;         // looks like a table of records, not names
  bool bang_terminated = false;
  bool c1_terminated = false;
};
BlockTraits classify_block(Bytes block);

/// Number of NUL-terminated printable strings of at least 3 characters in
/// `window` (a run must start with a non-space and end with 0x00 inside it).
std::size_t count_strings(Bytes window);

/// Newer-layout header fields; 0 when the header check fails.
struct HeaderFields {
  std::uint64_t table_offset = 0;
  std::uint64_t width_offset = 0;
};
HeaderFields read_header_fields(Bytes file);

/// One kept block-table entry: file offset and stated length.
struct TableEntry {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};
std::vector<TableEntry> read_block_table(Bytes file, std::uint64_t table_offset);

/// A zlib stream found by scanning the file.
struct FoundBlock {
  std::size_t offset = 0;
  std::vector<std::uint8_t> bytes;
};
/// Up to 20 zlib streams in file order, each resumed after what it consumed.
/// Stops early, with what it found so far, once `control` says stop.
std::vector<FoundBlock> scan_zlib_blocks(Bytes file, ZlibInflater& inflater, LoadControl* control = nullptr);

/// Found blocks sorted by what they hold, as positions in the found list.
struct BlockLists {
  std::vector<std::size_t> rich_names;
  std::vector<std::size_t> marked_names;
  std::vector<std::size_t> plain_names;
  std::vector<std::size_t> values;
};
/// Classifies found blocks; those at a table entry's offset are left out.
BlockLists sort_found_blocks(const std::vector<FoundBlock>& found, const std::vector<TableEntry>& table);

/// Inflates a table entry's block (retrying with the end 2 bytes further);
/// nothing when it does not inflate.
std::optional<std::vector<std::uint8_t>> inflate_table_block(Bytes file, const TableEntry& e, ZlibInflater& inflater);

}  // namespace quarn::fsdb
