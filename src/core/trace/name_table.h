#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signal/types.h"

namespace quarn {

/// The names of a trace: signal names and scope paths, each a path of
/// components joined by "." ("top", "cpu", "clk" for "top.cpu.clk"). A path
/// is kept as its last component and its parent path, so the table grows
/// with the declarations, not with the length of the full names, however
/// deep the scopes nest. One hash index leads from a full name to its
/// signal. Full names are built when asked for; the lists `names` and
/// `scopes` are built once, on the first call, safely from any thread.
///
/// Built from one thread; read-only (and safe to share) afterwards. Names
/// compare as text: a component holding a "." names the same as the
/// components it spells ("a.b" under "top" is "top.a.b").
class NameTable {
 public:
  /// A path in the table.
  using Path = std::uint32_t;
  /// The parent of a top-level path.
  static constexpr Path kTop = ~Path{0};

  /// A named signal.
  struct Signal {
    SignalId id = 0;
    Path path = kTop;
    Width width = 0;
  };

  NameTable();
  NameTable(NameTable&&) noexcept;
  NameTable& operator=(NameTable&&) noexcept;
  ~NameTable();

  // Building. Every new path costs its component's bytes and a fixed record.

  /// Room for `signals` signals and `paths` paths, so that nothing grows
  /// (and is copied) while they come in.
  void reserve(std::size_t signals, std::size_t paths);

  /// A new path: `component` under `parent` (kTop: at the top level).
  Path add_path(Path parent, std::string_view component);
  /// `path` with `suffix` added to its last component ("x" -> "x#2").
  Path add_suffixed(Path path, std::string_view suffix);
  /// The scope named as `component` under `parent`: the one listed before
  /// under that name, else a new one listed after the others.
  Path add_scope(Path parent, std::string_view component);
  /// Lists `name` (a full name) among the scopes, even when listed before.
  void list_scope(std::string_view name);
  /// Names signal `id` of `width` by `path` unless a signal has that name
  /// already; false then.
  bool add_signal(Path path, SignalId id, Width width);
  /// The same for a full name given as text.
  bool add_signal(std::string_view name, SignalId id, Width width);
  /// Sets the width of the signal at `index` (in `names` order).
  void set_width(std::size_t index, Width width) { signals_[index].width = width; }

  // Reading.

  /// Number of signal names.
  std::size_t size() const { return signals_.size(); }
  /// The signal at `index`, in `names` order.
  const Signal& signal(std::size_t index) const { return signals_[index]; }
  /// The signal named `name`; null when none is.
  const Signal* find(std::string_view name) const;
  /// The signal named as `path`; null when none is.
  const Signal* find(Path path) const;
  /// `find`, also answering a spelling with a bit range ("top.busy [7:0]",
  /// "top.busy[7:0]") when the range spans the signal's width, and one with
  /// a dot before a bracket ("top.mem.[3]" for "top.mem[3]").
  const Signal* find_signal(std::string_view name) const;

  /// Full name of `path`.
  std::string text(Path path) const;
  /// Appends the full name of `path` to `out`.
  void append_text(Path path, std::string& out) const;
  /// Hash of the full name of `path` (equal names, equal hashes).
  std::uint32_t text_hash(Path path) const { return paths_[path].hash; }
  /// Whether `a` and `b` have the same full name.
  bool same_text(Path a, Path b) const;
  Path parent(Path path) const { return paths_[path].parent; }
  std::string_view component(Path path) const { return {chars_.data() + paths_[path].at, paths_[path].size}; }

  /// Every signal name, in the order added; built on the first call.
  const std::vector<std::string>& names() const;
  /// Calls `visit` with each signal name in `names` order, building each in
  /// turn: for callers that copy the names out once and need no list kept.
  void each_name(const std::function<void(std::string_view)>& visit) const;
  /// Every listed scope's full name, in the order listed; built on the first call.
  const std::vector<std::string>& scopes() const;
  /// Memory held, the built lists aside (bytes).
  std::size_t memory_bytes() const;

 private:
  struct PathRecord {
    std::uint32_t hash;  // of the full name
    std::uint32_t at;    // of the component in chars_
    Path parent;
    std::uint32_t size;  // of the component
  };
  /// Open-addressed positions of items (stored + 1; 0 is free), by hash.
  struct Slots {
    std::vector<std::uint32_t> slot;
    std::size_t used = 0;
  };
  struct Lists;

  std::uint32_t hash_under(Path parent, std::string_view component) const;
  bool same_text(Path a_parent, std::string_view a_component, Path b_parent, std::string_view b_component) const;
  bool spells(Path path, std::string_view name) const;
  /// Signal index+1 whose name equals what `same` accepts; 0 when none.
  template <class Same>
  std::uint32_t probe(const Slots& slots, std::uint32_t hash, Same same) const;
  template <class HashOf>
  void insert(Slots& slots, std::uint32_t hash, std::uint32_t item, HashOf hash_of);

  std::string chars_;  // every component, back to back
  std::vector<PathRecord> paths_;
  std::vector<Signal> signals_;
  std::vector<Path> scopes_;
  Slots signal_slots_;  // signal index by name
  Slots scope_slots_;   // index into scopes_ by name, for scopes that `add_scope` found
  std::unique_ptr<Lists> lists_;
};

/// Hash and equality of paths by their full names, for maps keyed by name.
struct PathTextHash {
  const NameTable* table;
  std::size_t operator()(NameTable::Path p) const { return table->text_hash(p); }
};
struct PathTextEqual {
  const NameTable* table;
  bool operator()(NameTable::Path a, NameTable::Path b) const { return table->same_text(a, b); }
};
/// A map keyed by paths' full names: `PathMap<T> m(0, {&table}, {&table})`.
template <class T>
using PathMap = std::unordered_map<NameTable::Path, T, PathTextHash, PathTextEqual>;

}  // namespace quarn
