#pragma once

// FSDB signal names: the identifier scan of name regions and blocks, the
// file-tail scan, scope derivation, and widths from the width section.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signal/types.h"
#include "trace/fsdb_facts.h"
#include "trace/trace_record.h"

namespace quarn::fsdb {

/// Every NUL-terminated identifier in `data`, in order, duplicates kept. An
/// identifier starts with a letter or '_', holds only letters, digits and
/// "$.:[]_", has no empty or digit-led dotted part, and names no simulator
/// build or log artefact.
std::vector<std::string> extract_identifiers(Bytes data);

/// Candidate names of the file's last 4096 bytes: NUL-ended runs after a 0x02
/// marker byte that is followed by a letter (runs after 0x04 0x02 are skipped).
std::vector<std::string> scan_tail_names(Bytes tail);

/// Gives each new name the next id and width 1; known names are dropped.
void add_names(TraceRecord& record, const std::vector<std::string>& names);

/// Sets widths from the width section (a 4-byte length, then a zlib stream)
/// at `width_offset`. Leaves every width alone when the section does not fit
/// in the file or does not inflate completely.
void apply_width_section(TraceRecord& record, Bytes file, std::uint64_t width_offset);

/// Widths of the records in inflated width data, for at most `name_count`
/// names, in name order. Exposed for tests; streams feed it piece by piece.
class WidthWalk {
 public:
  explicit WidthWalk(std::size_t name_count) : name_count_(name_count) {}
  /// Feeds inflated bytes; `at_end` marks the last piece.
  void feed(const std::uint8_t* p, std::size_t n, bool at_end);
  bool done() const { return done_ || widths_.size() >= name_count_; }
  const std::vector<Width>& widths() const { return widths_; }

 private:
  void walk(bool at_end);

  std::size_t name_count_;
  std::vector<std::uint8_t> pending_;
  std::vector<Width> widths_;
  bool done_ = false;
};

}  // namespace quarn::fsdb
