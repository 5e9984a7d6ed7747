#include "trace/vcd_names.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

}  // namespace

std::vector<VcdNamed> name_vcd_vars(const std::vector<VcdDeclared>& decls) {
  // Declarations by base, dropping repeats of one id under one base.
  std::unordered_map<std::string_view, std::vector<std::size_t>> groups;
  std::vector<bool> repeat(decls.size(), false);
  for (std::size_t k = 0; k < decls.size(); ++k) {
    auto& g = groups[decls[k].base];
    for (std::size_t j : g) repeat[k] = repeat[k] || decls[j].id == decls[k].id;
    if (!repeat[k]) g.push_back(k);
  }
  std::unordered_set<std::string> taken;
  for (const auto& d : decls) taken.insert(d.base);
  std::unordered_set<std::string_view> merged;
  std::vector<VcdNamed> out;
  for (std::size_t k = 0; k < decls.size(); ++k) {
    if (repeat[k]) continue;
    const std::string& base = decls[k].base;
    const auto& group = groups[base];
    if (group.size() > 1) {
      if (auto bus = as_bus(decls, group)) {
        if (merged.insert(base).second) out.push_back({base, k, std::move(*bus)});
        continue;
      }
    }
    if (group.front() == k) {
      out.push_back({base, k, {}});
      continue;
    }
    std::string name = base + decls[k].range;
    for (int n = 2; decls[k].range.empty() || taken.count(name); ++n) {
      name = base + "~" + std::to_string(n);
      if (!taken.count(name)) break;
    }
    taken.insert(name);
    out.push_back({std::move(name), k, {}});
  }
  return out;
}

}  // namespace quarn
