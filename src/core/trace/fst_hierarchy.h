#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "signal/types.h"
#include "trace/trace_record.h"

namespace quarn {

/// Builds names, scopes, ids and widths from hierarchy entries in file order.
class FstHierarchyBuilder {
 public:
  /// Id of a handle that no kept variable declared.
  static constexpr SignalId kNoId = ~SignalId{0};

  /// `record` receives names, scopes and the two maps; `handles` is the
  /// number of signal handles (1-based handles up to it are mapped); `vars`
  /// the number of variable entries to expect (a size hint).
  FstHierarchyBuilder(TraceRecord& record, std::size_t handles, std::size_t vars = 0);

  void scope(std::string_view name);
  /// Closes the innermost scope; nothing when none is open.
  void upscope();
  /// A variable: a new full name gets its handle's id (a fresh one for a
  /// handle seen first); a full name seen before is ignored with its handle.
  void var(std::string_view name, Width width, std::uint32_t handle);

  /// Signal id by handle index (handle - 1); kNoId when unmapped.
  std::vector<SignalId>& handle_ids() { return handle_to_id_; }
  SignalId id_count() const { return next_id_; }

 private:
  TraceRecord& r_;
  std::string path_;  // open scopes joined with "."
  std::vector<std::size_t> path_marks_;  // path_ length before each open scope
  std::unordered_set<std::string> scope_set_;
  std::vector<SignalId> handle_to_id_;
  SignalId next_id_ = 0;
};

}  // namespace quarn
