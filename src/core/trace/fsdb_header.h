#pragma once

// FSDB file check: reading the file, telling the two layouts apart, and the
// older layout, whose names sit as plain strings after a fixed header.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "trace/fsdb_facts.h"
#include "trace/trace_record.h"

namespace quarn::fsdb {

enum class Layout { Older, Newer };

/// The layout named by the magic at offset 4, or the message for a file that
/// is too short or carries another magic.
std::variant<Layout, std::string> check_file(Bytes file);

/// Names of an older-layout file (identifiers after offset 272, first
/// occurrence wins, width 1), their scopes, one timestamp 0 and no values.
TraceRecord read_older_layout(Bytes file);

}  // namespace quarn::fsdb
