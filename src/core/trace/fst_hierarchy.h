#pragma once

#include <cstdint>
#include <string>
#include <string_view>
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

  /// `record` receives names, scopes, ids and widths; `handles` is the
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
  using Path = NameTable::Path;
  struct Var {
    Path scope;  // NameTable::kTop at top level
    std::uint32_t name_size;
    std::uint32_t name_at;  // into var_names_
    Width width;
    std::uint32_t handle;
  };

  SignalId id_of_handle(std::uint32_t handle);
  std::string_view var_name(const Var& v) const { return std::string_view(var_names_).substr(v.name_at, v.name_size); }
  /// `path`, or the first of path + "#2", "#3", ... that names no signal yet.
  Path unused_name(Path path);

  NameTable& names_;
  std::vector<Path> open_scopes_;
  std::string var_names_;  // every variable's name as declared, back to back
  std::vector<Var> vars_;
  PathMap<unsigned> next_number_;  // per clashing name, the "#k" to try next
  std::vector<SignalId> handle_to_id_;
  std::vector<FstBus> buses_;
  std::vector<SignalId> hidden_;
  SignalId next_id_ = 0;
};

}  // namespace quarn
