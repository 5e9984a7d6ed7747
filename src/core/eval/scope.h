#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class Trace;

/// The direct child scopes of `scope` as full paths, in order of first
/// appearance in the trace's scope list, each once. A child counts even when
/// only deeper scopes below it are listed. The empty scope gives the
/// top-level scopes. An unknown scope gives nothing.
std::vector<std::string> local_scopes(const Trace& trace, std::string_view scope);

/// The signals directly in `scope` (no further "." after `scope` + "."), in
/// `signal_names` order; for the empty scope the names without any ".".
std::vector<std::string> local_signals(const Trace& trace, std::string_view scope);

/// `scope` + "." + `short_name` when the trace knows that name; else the
/// first name, in `signal_names` order, that starts with the text `scope` (a
/// plain text prefix) and ends with `short_name` at a component boundary.
/// Nothing when no name qualifies.
std::optional<std::string> resolve(const Trace& trace, std::string_view scope, std::string_view short_name);

}  // namespace quarn
