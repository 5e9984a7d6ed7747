#include "eval/name_suggest.h"

#include <algorithm>
#include <utility>

namespace quarn {
namespace {

std::string_view last_component(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

// Edit distance, giving up (returning cap + 1) once it must exceed `cap`.
std::size_t edit_distance(std::string_view a, std::string_view b, std::size_t cap, std::vector<std::size_t>& row) {
  const std::size_t diff = a.size() > b.size() ? a.size() - b.size() : b.size() - a.size();
  if (diff > cap) return cap + 1;
  row.resize(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diag = row[0];
    row[0] = i;
    std::size_t best = row[0];
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
      best = std::min(best, row[j]);
    }
    if (best > cap) return cap + 1;
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> close_names(const std::vector<std::string>& names, std::string_view query,
                                     std::size_t limit) {
  const std::size_t cap = std::max<std::size_t>(2, query.size() / 3);
  const std::string_view leaf = last_component(query);
  std::vector<std::pair<std::size_t, const std::string*>> scored;
  std::vector<std::size_t> row;
  for (const auto& name : names) {
    std::size_t d = edit_distance(name, query, cap, row);
    // Same leaf in another scope: ranked after every near spelling.
    if (d > cap && last_component(name) == leaf) d = cap + 1;
    else if (d > cap) continue;
    scored.emplace_back(d, &name);
  }
  std::stable_sort(scored.begin(), scored.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && out.size() < limit; ++i) out.push_back(*scored[i].second);
  return out;
}

}  // namespace quarn
