#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "eval/program.h"
#include "signal/signal_value.h"
#include "signal/value_view.h"

namespace quarn {

/// Indices evaluated together: few enough that the lanes of the nodes in use
/// stay in the first cache levels, many enough that per-window work is noise.
inline constexpr std::size_t kLanes = 1024;
inline constexpr std::size_t kPad = 4;

/// The values of one node over a window of consecutive indices. Most nodes
/// yield only Bits or Empty; those keep `num`/`ok` (Empty where ok is 0) so
/// that loops over them vectorise. Other values go through `views`.
struct Lanes {
  /// Every lane equals lane 0; only lane 0 is filled.
  bool uniform = true;
  /// Lanes live in `views`; otherwise in `num`/`ok`.
  bool general = false;
  /// Not general and no lane is Empty: `ok` is left unfilled (readers take
  /// a shared array of ones instead), which spares a store per lane in every
  /// node over plain Bits.
  bool all_ok = false;
  /// all_ok and every lane is 0 or 1: `num` is its own truth.
  bool boolean = false;
  // kPad spare lanes let the column decoder store a few lanes past a short
  // run unconditionally; the next run or the window's tail overwrites them.
  alignas(64) std::uint64_t num[kLanes + kPad] = {};
  alignas(64) std::uint64_t ok[kLanes + kPad] = {};  // 0 or 1: one width, so loops vectorise
  ValueView views[kLanes];
};

/// Evaluates a program over windows of indices. Each evaluator keeps its own
/// buffers and column positions, so one per thread; successive windows must
/// not move backwards for the column walks to stay O(1) per change.
class BlockEvaluator {
 public:
  explicit BlockEvaluator(const Program& program);

  /// Evaluates every step at indices start .. start+n-1 (1 <= n <= kLanes).
  void run(Index start, std::size_t n);

  /// The length m (kLanes <= m <= limit) of a span start .. start+m-1 over
  /// which the result cannot change, because no operand does or a root
  /// guard reads falsy throughout; then the result at `start` is evaluated
  /// as by `run(start, 1)`. 0, with nothing evaluated, when the span found
  /// is shorter than a window.
  WideIndex steady_span(Index start, WideIndex limit);

  /// Truth of the result after `run`: `truth()[j]` for lane j, or only
  /// element 0 when `result_uniform()`.
  const std::uint64_t* truth();
  bool result_uniform() const { return slots_[program_.result_slot]->uniform; }
  /// Result of lane 0 as an owned value.
  SignalValue first_value() const;
  /// Result of lane j after `run`, valid until the next `run`.
  ValueView result_lane(std::size_t j) const;

 private:
  void signal(const Step& s, std::size_t k, Lanes& out);
  /// Whether signal step k reads one falsy value (or Empty) over the whole
  /// window; answers without filling any lane.
  bool falsy_throughout(const Step& s, std::size_t k);
  /// How many indices from `start` on signal step k reads one stored run (or
  /// Empty); `limit` when more.
  WideIndex unchanged_for(const Step& s, std::size_t k, Index start, WideIndex limit);
  /// How many indices from `start` on signal step k reads falsy; 0 when
  /// it is truthy at `start`.
  WideIndex falsy_for(const Step& s, std::size_t k, Index start, WideIndex limit);
  void rel_eval(const Step& s, const Lanes& x, Lanes& out);

  const Program& program_;
  std::vector<std::unique_ptr<Lanes>> slots_;
  std::vector<std::size_t> run_hint_;  // per step: column run last used
  Index start_ = 0;
  std::size_t n_ = 0;
  struct Scratch {
    alignas(64) std::uint64_t num[kLanes];
    alignas(64) std::uint64_t ok[kLanes];
  };
  std::unique_ptr<Scratch[]> scratch_;
};

}  // namespace quarn
