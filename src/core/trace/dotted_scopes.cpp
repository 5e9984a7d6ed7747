#include "trace/dotted_scopes.h"

#include <algorithm>
#include <string_view>

#include "trace/name_table.h"

namespace quarn {

namespace {

// Views into the names first, so duplicates cost no allocation.
template <class Names>
std::vector<std::string_view> dotted_prefixes(const Names& names) {
  std::vector<std::string_view> prefixes;
  for (const std::string_view name : names)
    for (std::size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1))
      prefixes.emplace_back(name.data(), dot);
  std::sort(prefixes.begin(), prefixes.end());
  prefixes.erase(std::unique(prefixes.begin(), prefixes.end()), prefixes.end());
  return prefixes;
}

}  // namespace

std::vector<std::string> derive_scopes(const std::vector<std::string>& names) {
  const std::vector<std::string_view> prefixes = dotted_prefixes(names);
  return {prefixes.begin(), prefixes.end()};
}

void list_dotted_scopes(NameTable& names) {
  // The full names back to back, then views into them: listing a scope
  // adds to the table, which may move its own bytes.
  std::string text;
  std::vector<std::size_t> ends;
  ends.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    names.append_text(names.signal(i).path, text);
    ends.push_back(text.size());
  }
  std::vector<std::string_view> views;
  views.reserve(ends.size());
  for (std::size_t i = 0, at = 0; i < ends.size(); at = ends[i++]) views.emplace_back(text.data() + at, ends[i] - at);
  for (const std::string_view scope : dotted_prefixes(views)) names.list_scope(scope);
}

}  // namespace quarn
