#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "trace/fst_file.h"
#include "trace/fst_hierarchy.h"
#include "trace/fst_validate.h"
#include "trace/load_control.h"
#include "trace/load_report.h"
#include "trace/trace_record.h"

namespace quarn {

/// Reader of FST files: the hierarchy is walked as the FST library walks it
/// (but in memory, without the library's scratch file); the value chains are
/// checked and decoded here (fst_chains.h), one signal per task on the thread
/// pool, to the values the library's text for them would give.
/// The result is the shared record:
///  - names: scope path + "." + the variable's name without its bit range
///    ("data [7:0]" -> "data"); bit-blasted buses are merged and clashing
///    names kept apart as FstHierarchyBuilder describes; variables on one
///    handle share an id;
///  - widths: the declared length; 64 for reals, 0 for strings;
///  - timestamps: the file's distinct time steps, ascending; values the file
///    holds from before the first step get a step of their own at the start
///    time (index 0), a change at a time between two steps lands on the
///    earlier one;
///  - values: filled forward after loading, so an Empty change (a zero-length
///    string) after a value reads as the value before it.
/// Index for a value change at `time` over ascending `timestamps`: the exact
/// step, else the last step before it; 0 for a time before the first step;
/// nullopt when there are no steps.
std::optional<Index> fst_time_index(const std::vector<Time>& timestamps, Time time);
/// `fst_time_index` of each of `times` in `out` (kNoIndex for nullopt);
/// quick when `times` ascend, as a block's steps do.
void fst_time_indices(const std::vector<Time>& timestamps, std::span<const Time> times, std::vector<Index>& out);
/// Whether `fst_time_indices` would map step i of `times` to `base + i` for
/// every i (then `base` is set), found without building the table.
bool fst_time_indices_affine(const std::vector<Time>& timestamps, std::span<const Time> times, Index& base);

/// What an FST open reads before any value: the file (mapped, its descriptor
/// open), its block layout, and names, scopes, maps and timestamps in the
/// record.
struct FstHead {
  std::unique_ptr<FstFile> file = std::make_unique<FstFile>();
  FstLayout layout;  // its times moved to the record
  std::vector<SignalId> handle_ids;  // signal id by handle index; FstHierarchyBuilder::kNoId when unnamed
  SignalId ids = 0;  // signal ids given out
  std::vector<FstBus> buses;  // composed from their bits' values
  std::vector<SignalId> hidden_ids;  // bits of a bus under no name of their own
};

/// Opens `path`, checks its structure (the chains' declared sizes only with
/// `chain_heads`) and reads the hierarchy and time table into `r`; `visit`
/// sees each value-change block as the check reads it. Returns "" or the
/// message `FstTrace::from_file` would give (kLoadInterrupted once `control`
/// says stop); header counts that disagree go to `report`. The image's pages
/// read so far are given back before the names are built (they stay
/// readable).
std::string read_fst_head(const std::string& path, TraceRecord& r, FstHead& head, bool chain_heads,
                          LoadControl& control, LoadReport* report = nullptr, const FstBlockVisitor& visit = {});

class FstTrace {
 public:
  /// Loads `path`. Fails with "Failed to open <path>: <reason>" when it cannot
  /// be opened (a directory included; "not a regular file" for a FIFO,
  /// socket or device), or with a message starting "FST open: ",
  /// "FST hierarchy: " or "FST signals: " for input the reader cannot use.
  /// Never ends the process, whatever the file holds.
  static std::variant<RecordTrace, std::string> from_file(const std::string& path);
  /// The same, stoppable: fails with kLoadInterrupted once `control` says
  /// stop. Header counts that disagree with the blocks that follow are noted
  /// in `report` (the blocks are what is loaded).
  static std::variant<RecordTrace, std::string> from_file(const std::string& path, LoadControl& control,
                                                          LoadReport* report = nullptr);
};

}  // namespace quarn
