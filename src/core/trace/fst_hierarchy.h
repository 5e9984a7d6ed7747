#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signal/types.h"
#include "trace/bus_merge.h"
#include "trace/trace_record.h"

namespace quarn {

/// A vector made of bit-blasted single-bit variables ("d [1]", "d [0]" in one
/// scope); its values are composed from its bits' after loading.
struct FstBus {
  SignalId id = 0;
  Width width = 0;
  std::vector<BusBit> bits;
};

/// Builds names, scopes, ids and widths from hierarchy entries in file order.
/// Variables are named once the walk is over (`finish`), when every bit of a
/// bus is known:
///  - a name loses its bit range ("busy [7:0]" -> "busy"); scope names keep
///    theirs ("lane[0]");
///  - single-bit variables of one scope with one base name and distinct
///    indices become one vector of the covered width, named at its first bit;
///  - a name met again for the same handle is the same signal and is skipped;
///    for another handle the later variable keeps its name as declared, and
///    "#2", "#3", ... is added while that is taken too.
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
  void var(std::string_view name, Width width, std::uint32_t handle);
  /// Names the variables met so far, in the order they were declared.
  void finish();

  /// Signal id by handle index (handle - 1); kNoId when unmapped.
  std::vector<SignalId>& handle_ids() { return handle_to_id_; }
  SignalId id_count() const { return next_id_; }
  const std::vector<FstBus>& buses() const { return buses_; }
  /// Ids that hold only a bus's bits, under no name of their own.
  const std::vector<SignalId>& hidden_ids() const { return hidden_; }

 private:
  struct Var {
    std::size_t scope;  // index into the record's scopes; kTop at top level
    std::string name;
    Width width;
    std::uint32_t handle;
  };
  static constexpr std::size_t kTop = ~std::size_t{0};

  SignalId id_of_handle(std::uint32_t handle);
  std::string full_name(std::size_t scope, std::string_view name) const;
  void add_name(std::string name, SignalId id, Width width);
  std::string unused_name(std::string name) const;

  TraceRecord& r_;
  std::string path_;  // open scopes joined with "."
  std::vector<std::size_t> path_marks_;  // path_ length before each open scope
  std::vector<std::size_t> open_scopes_;  // scope index of each open scope
  std::unordered_map<std::string, std::size_t> scope_index_;
  std::vector<Var> vars_;
  std::vector<SignalId> handle_to_id_;
  std::vector<FstBus> buses_;
  std::vector<SignalId> hidden_;
  SignalId next_id_ = 0;
};

}  // namespace quarn
