#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

/// Reads "<trace_path>.hier", the uncompressed hierarchy entries an FST
/// writer keeps beside its file until it finishes, for a trace that holds no
/// hierarchy block. Returns "" and fills `entries`, or "FST open: ..." naming
/// what is missing when there is no such regular file, or "FST hierarchy:
/// ..." when it is empty.
std::string read_fst_side_hierarchy(const std::string& trace_path, std::vector<std::uint8_t>& entries);

}  // namespace quarn
