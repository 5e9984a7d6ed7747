#include "trace/vcd_names.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace quarn {

namespace {

// The index of a single-bit range "[n]", if it is one.
std::optional<long long> single_index(std::string_view range) {
  if (range.size() < 3 || range.front() != '[' || range.back() != ']') return std::nullopt;
  range = range.substr(1, range.size() - 2);
  bool negative = !range.empty() && range.front() == '-';
  if (negative) range.remove_prefix(1);
  if (range.empty() || range.size() > 12) return std::nullopt;
  long long n = 0;
  for (char c : range) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return negative ? -n : n;
}

// Member declarations, most significant first, when `group` is a bit-blasted bus.
std::optional<std::vector<std::size_t>> as_bus(const std::vector<VcdDeclared>& decls,
                                               const std::vector<std::size_t>& group) {
  if (group.size() < 2) return std::nullopt;
  std::vector<std::pair<long long, std::size_t>> bits;
  for (std::size_t k : group) {
    const auto index = single_index(decls[k].range);
    if (decls[k].width != 1 || !index) return std::nullopt;
    bits.emplace_back(*index, k);
  }
  std::sort(bits.begin(), bits.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t i = 1; i < bits.size(); ++i)
    if (bits[i - 1].first != bits[i].first + 1) return std::nullopt;  // repeated or missing index
  std::vector<std::size_t> out;
  for (const auto& b : bits) out.push_back(b.second);
  return out;
}

struct GroupIdHash {
  std::size_t operator()(const std::pair<std::size_t, SignalId>& p) const noexcept {
    return std::hash<std::uint64_t>{}(p.first * 0x9E3779B97F4A7C15ull ^ p.second);
  }
};

}  // namespace

std::vector<VcdNamed> name_vcd_vars(NameTable& names, const std::vector<VcdDeclared>& decls) {
  using Path = NameTable::Path;
  const PathTextHash hash{&names};
  const PathTextEqual equal{&names};
  // Declarations by base, dropping repeats of one id under one base.
  PathMap<std::size_t> group_of(0, hash, equal);
  std::vector<std::vector<std::size_t>> groups;
  std::unordered_set<std::pair<std::size_t, SignalId>, GroupIdHash> ids_seen;
  std::vector<bool> repeat(decls.size(), false);
  for (std::size_t k = 0; k < decls.size(); ++k) {
    const auto [it, added] = group_of.try_emplace(decls[k].base, groups.size());
    if (added) groups.emplace_back();
    repeat[k] = !ids_seen.insert({it->second, decls[k].id}).second;
    if (!repeat[k]) groups[it->second].push_back(k);
  }
  std::unordered_set<Path, PathTextHash, PathTextEqual> taken(0, hash, equal);
  for (const auto& d : decls) taken.insert(d.base);
  PathMap<unsigned> next_number(0, hash, equal);  // per base, the "~n" to try next
  std::vector<bool> merged(groups.size(), false);
  std::vector<VcdNamed> out;
  for (std::size_t k = 0; k < decls.size(); ++k) {
    if (repeat[k]) continue;
    const Path base = decls[k].base;
    const std::size_t g = group_of.find(base)->second;
    const auto& group = groups[g];
    if (group.size() > 1) {
      if (auto bus = as_bus(decls, group)) {
        if (!merged[g]) merged[g] = true, out.push_back({base, k, std::move(*bus)});
        continue;
      }
    }
    if (group.front() == k) {
      out.push_back({base, k, {}});
      continue;
    }
    Path name = NameTable::kTop;
    if (!decls[k].range.empty()) {
      const Path ranged = names.add_suffixed(base, decls[k].range);
      if (!taken.count(ranged)) name = ranged;
    }
    if (name == NameTable::kTop) {
      // Numbers handed out stay taken: the next repeat goes on from there.
      unsigned& n = next_number.try_emplace(base, 2).first->second;
      for (;; ++n) {
        const Path numbered = names.add_suffixed(base, "~" + std::to_string(n));
        if (!taken.count(numbered)) {
          name = numbered;
          ++n;
          break;
        }
      }
    }
    taken.insert(name);
    out.push_back({name, k, {}});
  }
  return out;
}

}  // namespace quarn
