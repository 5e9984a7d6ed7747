#include "eval/scope.h"

#include <algorithm>

#include "trace/trace.h"

namespace quarn {

namespace {

std::string scope_prefix(std::string_view scope) {
  std::string prefix(scope);
  if (!scope.empty()) prefix.push_back('.');
  return prefix;
}

// `name` ends with `short_name` and the text before it is empty or ends in ".".
bool ends_at_component(std::string_view name, std::string_view short_name) {
  if (!name.ends_with(short_name)) return false;
  const std::size_t before = name.size() - short_name.size();
  return before == 0 || name[before - 1] == '.';
}

}  // namespace

std::vector<std::string> local_scopes(const Trace& trace, std::string_view scope) {
  std::vector<std::string> out;
  auto add_once = [&](std::string_view path) {
    // Child lists are short, so a linear scan beats building a set per call.
    if (std::find(out.begin(), out.end(), path) == out.end()) out.emplace_back(path);
  };
  if (scope.empty()) {
    for (const std::string& s : trace.scopes())
      if (s.find('.') == std::string::npos) add_once(s);
    return out;
  }
  const std::string prefix = scope_prefix(scope);
  std::string child;
  for (const std::string& s : trace.scopes()) {
    if (!s.starts_with(prefix)) continue;
    const std::string_view rest = std::string_view(s).substr(prefix.size());
    child.assign(prefix);
    child.append(rest.substr(0, rest.find('.')));
    add_once(child);
  }
  return out;
}

std::vector<std::string> local_signals(const Trace& trace, std::string_view scope) {
  std::vector<std::string> out;
  const std::string prefix = scope_prefix(scope);
  for (const std::string& name : trace.signal_names()) {
    if (name.starts_with(prefix) && name.find('.', prefix.size()) == std::string::npos) out.push_back(name);
  }
  return out;
}

std::optional<std::string> resolve(const Trace& trace, std::string_view scope, std::string_view short_name) {
  std::string candidate = scope_prefix(scope);
  candidate.append(short_name);
  if (trace.signal_id(candidate)) return candidate;
  for (const std::string& name : trace.signal_names()) {
    if (ends_at_component(name, short_name) && name.starts_with(scope)) return name;
  }
  return std::nullopt;
}

}  // namespace quarn
