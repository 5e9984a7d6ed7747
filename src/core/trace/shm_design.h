#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "trace/string_map.h"
#include "signal/types.h"

namespace quarn::shm {

/// Printable strings in [start, end) of `data`: each starts at a byte in
/// 0x20-0x7E and runs to the next NUL byte anywhere after it (so it may run
/// past `end`), or to min(end, data size) when there is none. Strings that are
/// not valid UTF-8 are dropped.
std::vector<std::string> extract_strings(std::string_view data, std::size_t start, std::size_t end);

/// What the design file declares: signal names (id = position) and scope
/// strings in file order, duplicates kept.
struct ShmDesign {
  std::vector<std::string> names;
  std::vector<std::string> scopes;
  StringMap<SignalId> name_to_id;

  /// Appends `name` with the next id unless it is already known.
  void admit(const std::string& name);
};

/// Reads the records of a whole design file. Fails only with
/// "Bad DSN magic: 0x<8 upper-case hex digits>" for a file of 128 bytes or
/// more with another magic; shorter or malformed files yield fewer names.
std::variant<ShmDesign, std::string> read_design(std::string_view data);

}  // namespace quarn::shm
