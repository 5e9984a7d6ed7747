#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quarn::shm {

/// The files of one database: the design file, if any, and the transition
/// files in the order they are decoded.
struct ShmInputs {
  std::optional<std::string> dsn;
  std::vector<std::string> trns;
};

/// `bytes` as UTF-8 text, each invalid sequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

/// Text after the last "." of the path's file name (trailing "/" ignored),
/// even when the name starts with "."; empty without a dot or when the text
/// is not valid UTF-8.
std::string file_extension(std::string_view path);

/// The path with its extension removed and the extension of the result then
/// set to `ext`: run.dsn -> run.trn, run.final.dsn -> run.trn.
std::string partner_path(std::string_view path, std::string_view ext);

/// Resolves a directory, a design file or a transition file to the files of
/// its database. Fails only with "No .dsn/.trn in <path>" for a directory
/// without such files (or one that cannot be listed).
std::variant<ShmInputs, std::string> resolve_inputs(const std::string& path);

}  // namespace quarn::shm
