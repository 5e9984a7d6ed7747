#include "trace/fsdb_header.h"

#include <algorithm>
#include <cstdio>

#include "trace/dotted_scopes.h"
#include "trace/fsdb_names.h"

namespace quarn::fsdb {

std::variant<Layout, std::string> check_file(Bytes file) {
  if (file.size() < kMinFileSize) return std::string("FSDB file too small");
  std::uint32_t magic = 0;
  for (std::size_t i = 0; i < 4; ++i) magic = (magic << 8) | file[kMagicOffset + i];
  if (magic == kOlderMagic) return Layout::Older;
  if (magic == kNewerMagic) return Layout::Newer;
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(magic));
  return "Not an FSDB file (magic=0x" + std::string(hex) + ")";
}

TraceRecord read_older_layout(Bytes file) {
  TraceRecord record;
  add_names(record, extract_identifiers(file.subspan(std::min(kOlderNamesOffset, file.size()))));
  list_dotted_scopes(record.names);
  record.timestamps = {0};
  return record;
}

}  // namespace quarn::fsdb
