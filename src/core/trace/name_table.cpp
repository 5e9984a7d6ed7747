#include "trace/name_table.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>

#include "trace/name_alias.h"

namespace quarn {

namespace {

// FNV-1a: a hash that can be carried on from a prefix, so a path's hash is
// its parent's carried over "." and its component, and equals the hash of
// its full name spelled out. 32 bits: every path keeps one, and equal hashes
// are told apart by their text.
constexpr std::uint32_t kHashStart = 2166136261u;
constexpr std::uint32_t kHashFactor = 16777619u;

std::uint32_t carry_hash(std::uint32_t h, std::string_view s) {
  for (const unsigned char c : s) h = (h ^ c) * kHashFactor;
  return h;
}

// FNV's low bits are its weakest; slots are picked from a mix of all.
std::size_t slot_of(std::uint64_t hash, std::size_t mask) {
  hash *= 0x9E3779B97F4A7C15ull;
  return static_cast<std::size_t>(hash ^ (hash >> 32)) & mask;
}

}  // namespace

struct NameTable::Lists {
  std::once_flag names_once;
  std::once_flag scopes_once;
  std::vector<std::string> names;
  std::vector<std::string> scopes;
};

NameTable::NameTable() : lists_(std::make_unique<Lists>()) {}
NameTable::NameTable(NameTable&&) noexcept = default;
NameTable& NameTable::operator=(NameTable&&) noexcept = default;
NameTable::~NameTable() = default;

std::uint32_t NameTable::hash_under(Path parent, std::string_view component) const {
  const std::uint32_t start = parent == kTop ? kHashStart : carry_hash(paths_[parent].hash, ".");
  return carry_hash(start, component);
}

NameTable::Path NameTable::add_path(Path parent, std::string_view component) {
  // Ids stay below kTop, and components within 4 GiB of text: so many
  // would not fit in memory anyway.
  if (paths_.size() >= kTop - 1 || component.size() > 0xFFFFFFFFu - chars_.size()) throw std::bad_alloc();
  const std::uint32_t hash = hash_under(parent, component);
  const auto at = static_cast<std::uint32_t>(chars_.size());
  if (component.data() >= chars_.data() && component.data() < chars_.data() + chars_.size()) {
    const std::string copy(component);  // appending may move the bytes it views
    chars_.append(copy);
  } else {
    chars_.append(component);
  }
  paths_.push_back({hash, at, parent, static_cast<std::uint32_t>(component.size())});
  return static_cast<Path>(paths_.size() - 1);
}

void NameTable::reserve(std::size_t signals, std::size_t paths) {
  paths_.reserve(paths);
  signals_.reserve(signals);
  if (signal_slots_.used == 0) {
    std::size_t slots = 16;
    while (slots < 2 * signals + 2) slots *= 2;
    signal_slots_.slot.assign(slots, 0);
  }
}

NameTable::Path NameTable::add_suffixed(Path path, std::string_view suffix) {
  std::string component(this->component(path));
  component.append(suffix);
  return add_path(parent(path), component);
}

template <class Same>
std::uint32_t NameTable::probe(const Slots& slots, std::uint32_t hash, Same same) const {
  if (slots.slot.empty()) return 0;
  const std::size_t mask = slots.slot.size() - 1;
  for (std::size_t i = slot_of(hash, mask);; i = (i + 1) & mask) {
    const std::uint32_t item = slots.slot[i];
    if (item == 0 || same(item - 1)) return item;
  }
}

template <class HashOf>
void NameTable::insert(Slots& slots, std::uint32_t hash, std::uint32_t item, HashOf hash_of) {
  if ((slots.used + 1) * 2 > slots.slot.size()) {
    // At most half full, so probes stay short.
    std::vector<std::uint32_t> old = std::move(slots.slot);
    slots.slot.assign(std::max<std::size_t>(16, old.size() * 2), 0);
    const std::size_t mask = slots.slot.size() - 1;
    for (const std::uint32_t o : old) {
      if (o == 0) continue;
      std::size_t i = slot_of(hash_of(o - 1), mask);
      while (slots.slot[i]) i = (i + 1) & mask;
      slots.slot[i] = o;
    }
  }
  const std::size_t mask = slots.slot.size() - 1;
  std::size_t i = slot_of(hash, mask);
  while (slots.slot[i]) i = (i + 1) & mask;
  slots.slot[i] = item + 1;
  ++slots.used;
}

NameTable::Path NameTable::add_scope(Path parent, std::string_view component) {
  const std::uint32_t hash = hash_under(parent, component);
  const std::uint32_t found = probe(scope_slots_, hash, [&](std::uint32_t k) {
    const Path p = scopes_[k];
    return paths_[p].hash == hash && same_text(paths_[p].parent, this->component(p), parent, component);
  });
  if (found) return scopes_[found - 1];
  const Path p = add_path(parent, component);
  scopes_.push_back(p);
  insert(scope_slots_, hash, static_cast<std::uint32_t>(scopes_.size() - 1),
         [&](std::uint32_t k) { return paths_[scopes_[k]].hash; });
  return p;
}

void NameTable::list_scope(std::string_view name) { scopes_.push_back(add_path(kTop, name)); }

bool NameTable::add_signal(Path path, SignalId id, Width width) {
  if (find(path)) return false;
  if (signals_.size() >= 0xFFFFFFFEu) throw std::bad_alloc();
  signals_.push_back({id, path, width});
  insert(signal_slots_, paths_[path].hash, static_cast<std::uint32_t>(signals_.size() - 1),
         [&](std::uint32_t k) { return paths_[signals_[k].path].hash; });
  return true;
}

bool NameTable::add_signal(std::string_view name, SignalId id, Width width) {
  if (find(name)) return false;
  return add_signal(add_path(kTop, name), id, width);
}

const NameTable::Signal* NameTable::find(std::string_view name) const {
  const std::uint32_t hash = carry_hash(kHashStart, name);
  const std::uint32_t found = probe(signal_slots_, hash, [&](std::uint32_t k) {
    const Path p = signals_[k].path;
    return paths_[p].hash == hash && spells(p, name);
  });
  return found ? &signals_[found - 1] : nullptr;
}

const NameTable::Signal* NameTable::find(Path path) const {
  const std::uint32_t hash = paths_[path].hash;
  const std::uint32_t found =
      probe(signal_slots_, hash, [&](std::uint32_t k) { return same_text(signals_[k].path, path); });
  return found ? &signals_[found - 1] : nullptr;
}

const NameTable::Signal* NameTable::find_signal(std::string_view name) const {
  if (const Signal* s = find(name)) return s;
  // Some tools spell an array element or a range as a component of its own,
  // "mem.[3]" for "mem[3]": the same name without the dot.
  if (name.find(".[") != std::string_view::npos) {
    std::string joined;
    joined.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i)
      if (!(name[i] == '.' && i + 1 < name.size() && name[i + 1] == '[')) joined += name[i];
    return find_signal(joined);
  }
  const VarNameParts parts = split_var_name(name);
  if (!parts.msb) return nullptr;
  const Signal* s = find(parts.base);
  return s && range_spans(parts, s->width) ? s : nullptr;
}

bool NameTable::spells(Path path, std::string_view name) const {
  for (Path p = path;;) {
    const std::string_view c = component(p);
    if (!name.ends_with(c)) return false;
    name.remove_suffix(c.size());
    p = paths_[p].parent;
    if (p == kTop) return name.empty();
    if (name.empty() || name.back() != '.') return false;
    name.remove_suffix(1);
  }
}

bool NameTable::same_text(Path a, Path b) const {
  if (a == b) return true;
  if (paths_[a].hash != paths_[b].hash) return false;
  return same_text(paths_[a].parent, component(a), paths_[b].parent, component(b));
}

// Compares from the end. What is left of a side is its parent's full name,
// ".", then `ac` (or `bc`); at the top level `ac` alone. Once both sides
// reach one parent, the rest is equal.
bool NameTable::same_text(Path ap, std::string_view ac, Path bp, std::string_view bc) const {
  for (;;) {
    if (ap == bp) return ac == bc;
    const std::size_t n = std::min(ac.size(), bc.size());
    if (ac.substr(ac.size() - n) != bc.substr(bc.size() - n)) return false;
    ac.remove_suffix(n);
    bc.remove_suffix(n);
    // One side has used up its component: next comes its "." or its end;
    // a "." of one side must meet a "." of the other.
    if ((ac.empty() && ap == kTop) || (bc.empty() && bp == kTop)) return false;  // one ended, the other did not
    const bool a_dot = ac.empty(), b_dot = bc.empty();
    if (!a_dot) {
      if (ac.back() != '.') return false;
      ac.remove_suffix(1);
    }
    if (!b_dot) {
      if (bc.back() != '.') return false;
      bc.remove_suffix(1);
    }
    if (a_dot) ac = component(ap), ap = paths_[ap].parent;
    if (b_dot) bc = component(bp), bp = paths_[bp].parent;
  }
}

std::string NameTable::text(Path path) const {
  std::string out;
  append_text(path, out);
  return out;
}

void NameTable::append_text(Path path, std::string& out) const {
  // Sized first, then filled from the back, walking up to the top.
  std::size_t size = 0;
  for (Path p = path; p != kTop; p = paths_[p].parent) size += paths_[p].size + 1;
  if (size == 0) return;
  std::size_t end = out.size() + size - 1;
  out.resize(end);
  for (Path p = path; p != kTop; p = paths_[p].parent) {
    const std::string_view c = component(p);
    end -= c.size();
    std::copy(c.begin(), c.end(), out.begin() + static_cast<std::ptrdiff_t>(end));
    if (paths_[p].parent != kTop) out[--end] = '.';
  }
}

const std::vector<std::string>& NameTable::names() const {
  std::call_once(lists_->names_once, [&] {
    lists_->names.reserve(signals_.size());
    for (const Signal& s : signals_) lists_->names.push_back(text(s.path));
  });
  return lists_->names;
}

void NameTable::each_name(const std::function<void(std::string_view)>& visit) const {
  std::string name;
  for (const Signal& s : signals_) {
    name.clear();
    append_text(s.path, name);
    visit(name);
  }
}

const std::vector<std::string>& NameTable::scopes() const {
  std::call_once(lists_->scopes_once, [&] {
    lists_->scopes.reserve(scopes_.size());
    for (const Path p : scopes_) lists_->scopes.push_back(text(p));
  });
  return lists_->scopes;
}

std::size_t NameTable::memory_bytes() const {
  return chars_.capacity() + paths_.capacity() * sizeof(PathRecord) + signals_.capacity() * sizeof(Signal) +
         scopes_.capacity() * sizeof(Path) + (signal_slots_.slot.capacity() + scope_slots_.slot.capacity()) * 4;
}

}  // namespace quarn
