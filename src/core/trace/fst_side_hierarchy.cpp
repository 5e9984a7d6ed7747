#include "trace/fst_side_hierarchy.h"

#include <cerrno>
#include <cstring>
#include <variant>

#include "trace/vendor_file.h"

namespace quarn {

std::string read_fst_side_hierarchy(const std::string& trace_path, std::vector<std::uint8_t>& entries) {
  const std::string path = trace_path + ".hier";
  const std::string missing = "FST open: no hierarchy block, and ";
  auto read = read_file_whole(path);
  if (const int* err = std::get_if<int>(&read)) {
    if (*err == kNotRegularFile || *err == EISDIR) return missing + "the side file " + path + " is not a regular file";
    if (*err == ENOENT) return missing + "no side file " + path;
    return missing + "the side file " + path + " cannot be read: " + std::strerror(*err);
  }
  entries = std::move(std::get<std::vector<std::uint8_t>>(read));
  if (entries.empty()) return "FST hierarchy: side file " + path + " is empty";
  return "";
}

}  // namespace quarn
