// Fuzz target of the FSDB reader. The first byte picks what the rest is:
//   0: a whole file (magic checked, then the layout's reader);
//   1: inflated value blocks, split at "|||", decoded and stored together;
//   2: inflated bytes for the name scans and the width walk;
//   3: a newer-layout file made here: the first part (split at "|||") is the
//      header, each further part is appended as a zlib stream.
// Modes 1 to 3 reach the decoders with bytes a random mutation of zlib data
// would rarely produce. Any input must load without a crash or a leak.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "trace/dotted_scopes.h"
#include "trace/fsdb_header.h"
#include "trace/fsdb_names.h"
#include "trace/fsdb_reader.h"
#include "trace/fsdb_values.h"

namespace {

using namespace quarn;

void query(const RecordTrace& t) {
  const Index last = t.max_index();
  for (const auto& name : t.signal_names()) {
    (void)t.signal_value(name, last);
    (void)t.signal_width(name);
  }
  (void)t.signal_value_by_id(0, last + 1);
}

void whole_file(fsdb::Bytes data) {
  auto layout = fsdb::check_file(data);
  if (std::holds_alternative<std::string>(layout)) return;
  if (std::get<fsdb::Layout>(layout) == fsdb::Layout::Older) query(RecordTrace(fsdb::read_older_layout(data)));
  else query(FsdbTrace::parse_modern(data));
}

std::vector<fsdb::Bytes> split(fsdb::Bytes data) {
  std::vector<fsdb::Bytes> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 3 <= data.size(); ++i) {
    if (data[i] == '|' && data[i + 1] == '|' && data[i + 2] == '|') {
      parts.push_back(data.subspan(start, i - start));
      start = i + 3;
      i += 2;
    }
  }
  parts.push_back(data.subspan(start));
  return parts;
}

void value_blocks(fsdb::Bytes data) {
  const auto parts = split(data);
  TraceRecord record;
  // The first part names the signals, so events have ids to go to.
  fsdb::add_names(record, fsdb::extract_identifiers(parts[0]));
  std::uint64_t budget = std::uint64_t{1} << 20;
  std::vector<fsdb::BlockEvents> blocks;
  for (std::size_t i = 1; i < parts.size(); ++i)
    blocks.push_back(fsdb::decode_value_block(parts[i], record.names.size(), budget));
  fsdb::store_events(blocks, record);
  query(RecordTrace(std::move(record)));
}

void name_scans(fsdb::Bytes data) {
  (void)derive_scopes(fsdb::extract_identifiers(data));
  (void)fsdb::scan_tail_names(data);
  fsdb::WidthWalk walk(data.size() % 64);
  for (std::size_t i = 0; i < data.size(); i += 3) walk.feed(data.data() + i, std::min<std::size_t>(3, data.size() - i), false);
  walk.feed(nullptr, 0, true);
}

void built_file(fsdb::Bytes data) {
  const auto parts = split(data);
  std::vector<std::uint8_t> file(parts[0].begin(), parts[0].end());
  if (file.size() < 400) file.resize(400, 0);
  const std::uint8_t magic[] = {0x1C, 0x3E, 0xD9, 0x48};
  std::copy(std::begin(magic), std::end(magic), file.begin() + 4);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    uLongf size = compressBound(parts[i].size());
    std::vector<std::uint8_t> z(size);
    if (compress(z.data(), &size, parts[i].data(), parts[i].size()) != Z_OK) continue;
    file.insert(file.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(size));
  }
  query(FsdbTrace::parse_modern(file));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const fsdb::Bytes rest(data + 1, size - 1);
  switch (data[0] % 4) {
    case 0: whole_file(rest); break;
    case 1: value_blocks(rest); break;
    case 2: name_scans(rest); break;
    default: built_file(rest); break;
  }
  return 0;
}
