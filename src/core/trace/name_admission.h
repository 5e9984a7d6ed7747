#pragma once

#include <cstddef>
#include <limits>
#include <string_view>

namespace quarn {

struct TraceRecord;

/// Adds scanned names to a record: each name once, its id its position in
/// the record's name list, its width 1, and no more than `limit` names in all.
class NameAdmission {
 public:
  explicit NameAdmission(TraceRecord& record, std::size_t limit = std::numeric_limits<std::size_t>::max())
      : record_(record), limit_(limit) {}

  /// Admits `name` unless it is already known or the limit is reached;
  /// true when it was added.
  bool admit(std::string_view name);

 private:
  TraceRecord& record_;
  std::size_t limit_;
};

}  // namespace quarn
