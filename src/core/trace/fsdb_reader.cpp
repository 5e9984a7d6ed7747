#include "trace/fsdb_reader.h"

#include "trace/fsdb_blocks.h"
#include "trace/fsdb_header.h"
#include "trace/dotted_scopes.h"
#include "trace/fsdb_names.h"
#include "trace/fsdb_values.h"
#include "trace/vendor_file.h"

namespace quarn {

using namespace fsdb;

std::variant<RecordTrace, std::string> FsdbTrace::from_file(const std::string& path) {
  LoadControl never;
  return from_file(path, never);
}

std::variant<RecordTrace, std::string> FsdbTrace::from_file(const std::string& path, LoadControl& control) {
  auto read = read_vendor_file(path, &control);
  if (auto* error = std::get_if<std::string>(&read)) return std::move(*error);
  auto& bytes = std::get<std::vector<std::uint8_t>>(read);
  auto layout = check_file(bytes);
  if (auto* error = std::get_if<std::string>(&layout)) return std::move(*error);
  if (std::get<Layout>(layout) == Layout::Older) return RecordTrace(read_older_layout(bytes));
  Decoded d = decode_modern(bytes, &control);
  if (control.stopped()) return std::string(kLoadInterrupted);
  // Storing needs only the decoded events; the file's bytes can go first.
  std::vector<std::uint8_t>().swap(bytes);
  return RecordTrace(finish(std::move(d)));
}

RecordTrace FsdbTrace::parse_modern(std::span<const std::uint8_t> file) { return RecordTrace(read_modern(file)); }

TraceRecord FsdbTrace::read_modern(std::span<const std::uint8_t> file) { return finish(decode_modern(file)); }

TraceRecord FsdbTrace::finish(Decoded d) {
  store_events(d.blocks, d.record);
  std::vector<BlockEvents>().swap(d.blocks);
  list_dotted_scopes(d.record.names);
  return std::move(d.record);
}

FsdbTrace::Decoded FsdbTrace::decode_modern(std::span<const std::uint8_t> file, LoadControl* control) {
  // Polled between blocks; a stopped load returns what it has, unused.
  const auto stop = [&](std::size_t work) { return control && control->advance(work); };
  Decoded d;
  TraceRecord& record = d.record;
  const HeaderFields header = read_header_fields(file);
  const std::vector<TableEntry> table = read_block_table(file, header.table_offset);
  ZlibInflater inflater;
  std::vector<FoundBlock> found = scan_zlib_blocks(file, inflater, control);
  const BlockLists lists = sort_found_blocks(found, table);

  for (const auto* list : {&lists.rich_names, &lists.marked_names, &lists.plain_names})
    for (std::size_t block : *list) add_names(record, extract_identifiers(found[block].bytes));
  if (record.names.size() == 0 && file.size() > kTailSize)
    add_names(record, scan_tail_names(file.last(kTailSize)));
  apply_width_section(record, file, header.width_offset);

  // Found blocks that hold no values are done with.
  std::vector<bool> holds_values(found.size());
  for (std::size_t block : lists.values) holds_values[block] = true;
  for (std::size_t i = 0; i < found.size(); ++i)
    if (!holds_values[i]) std::vector<std::uint8_t>().swap(found[i].bytes);

  // Table blocks come first among the value blocks; each is decoded as soon
  // as it is inflated so that only its events stay in memory.
  const std::size_t n = record.names.size();
  std::uint64_t budget = kMaxEvents;
  std::uint64_t table_bytes = 0;
  std::vector<BlockEvents>& blocks = d.blocks;
  for (const TableEntry& e : table) {
    if (table_bytes >= kMaxTableBytes) break;
    auto bytes = inflate_table_block(file, e, inflater);
    if (!bytes) continue;
    if (stop(bytes->size())) return d;
    table_bytes += bytes->size();
    blocks.push_back(decode_value_block(*bytes, n, budget));
  }
  for (std::size_t block : lists.values) {
    if (stop(found[block].bytes.size())) return d;
    blocks.push_back(decode_value_block(found[block].bytes, n, budget));
    std::vector<std::uint8_t>().swap(found[block].bytes);
  }

  return d;
}

}  // namespace quarn
