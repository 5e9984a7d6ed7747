#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "signal/types.h"
#include "trace/name_table.h"

namespace quarn {

/// One `$var` as the builder keeps it until names are given out.
struct VcdDeclared {
  NameTable::Path base = NameTable::kTop;  // scope path, ".", the reference without its range
  std::string range;  // "[7:0]", "[3]" or ""
  SignalId id = 0;
  Width width = 1;
};

/// A name given to one declaration, or to a merged bus (`bits` then lists
/// the member declarations, most significant first).
struct VcdNamed {
  NameTable::Path name = NameTable::kTop;
  std::size_t decl = 0;            // the declaration it names (the first member for a bus)
  std::vector<std::size_t> bits;   // empty unless a bus
};

/// Gives every declaration a distinct name, in declaration order, adding the
/// names it makes up to `names` as paths (not as signals):
/// - the name is the base (range cut off);
/// - one-bit declarations sharing a base, each with a single distinct index
///   ("d [1]", "d [0]") covering a contiguous range, merge into one vector
///   named by the base, the highest index most significant;
/// - a repeat of a name with the same id is the same signal and gets no name;
/// - any other repeat keeps the first declaration on the base and names the
///   later ones base + range ("bus[2]"), or base + "~2", "~3", ... when that
///   is taken too or there is no range.
std::vector<VcdNamed> name_vcd_vars(NameTable& names, const std::vector<VcdDeclared>& decls);

}  // namespace quarn
