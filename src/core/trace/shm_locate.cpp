#include "trace/shm_locate.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "trace/text_scan.h"

namespace quarn::shm {

namespace fs = std::filesystem;

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or of its maximal invalid
// prefix negated (at least 1), so that each invalid run becomes one U+FFFD.
long utf8_sequence(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    need = 1;
  } else if (b >= 0xE0 && b <= 0xEF) {
    need = 2;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    need = 3;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return -1;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return -static_cast<long>(k);
    const auto c = static_cast<unsigned char>(s[i + k]);
    const bool ok = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
    if (!ok) return -static_cast<long>(k);
  }
  return static_cast<long>(need + 1);
}

std::string ascii_lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The path without trailing separators, split into its directory part
// (ending in "/" or empty) and its file name.
std::pair<std::string_view, std::string_view> split_name(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {std::string_view{}, path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

ShmInputs list_directory(const std::string& path) {
  ShmInputs in;
  std::error_code ec;
  fs::directory_iterator it(fs::path(path), ec);
  // A directory that cannot be listed counts as empty; an entry that cannot
  // be read ends the listing, as the iterator cannot step past it.
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = ascii_lower(lossy_utf8(p.filename().native()));
    if (ends_with(name, ".dsn")) {
      in.dsn = lossy_utf8(p.native());  // the last one listed wins
    } else if (ends_with(name, ".trn")) {
      in.trns.push_back(lossy_utf8(p.native()));
    }
  }
  std::stable_sort(in.trns.begin(), in.trns.end(), [](const std::string& a, const std::string& b) {
    const bool ha = a.find('-') != std::string::npos, hb = b.find('-') != std::string::npos;
    if (ha != hb) return hb;
    return a < b;
  });
  return in;
}

// The system calls stop at a NUL and would see some other, shorter path.
bool has_nul(const std::string& path) { return path.find('\0') != std::string::npos; }

bool path_exists(const std::string& path) {
  std::error_code ec;
  return !has_nul(path) && fs::exists(fs::path(path), ec);
}

}  // namespace

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const long n = utf8_sequence(bytes, i);
    if (n > 0) {
      out.append(bytes.substr(i, static_cast<std::size_t>(n)));
      i += static_cast<std::size_t>(n);
    } else {
      out.append("\xEF\xBF\xBD");
      i += static_cast<std::size_t>(-n);
    }
  }
  return out;
}

std::string file_extension(std::string_view path) {
  const std::string_view name = split_name(path).second;
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  const std::string_view ext = name.substr(dot + 1);
  return is_valid_utf8(ext) ? std::string(ext) : std::string();
}

std::string partner_path(std::string_view path, std::string_view ext) {
  const auto [dir, name] = split_name(path);
  std::string_view stem = name;
  if (const auto dot = stem.rfind('.'); dot != std::string_view::npos) stem = stem.substr(0, dot);
  if (const auto dot = stem.rfind('.'); dot != std::string_view::npos) stem = stem.substr(0, dot);
  std::string out(dir);
  out.append(stem);
  out.push_back('.');
  out.append(ext);
  return out;
}

std::variant<ShmInputs, std::string> resolve_inputs(const std::string& path) {
  std::error_code ec;
  if (!has_nul(path) && fs::is_directory(fs::path(path), ec)) {
    ShmInputs in = list_directory(path);
    if (!in.dsn && in.trns.empty()) return "No .dsn/.trn in " + path;
    return in;
  }
  ShmInputs in;
  const std::string ext = ascii_lower(file_extension(path));
  if (ext == "dsn") {
    in.dsn = path;
    if (std::string trn = partner_path(path, "trn"); path_exists(trn)) in.trns.push_back(std::move(trn));
  } else if (ext == "trn") {
    in.trns.push_back(path);
    if (std::string dsn = partner_path(path, "dsn"); path_exists(dsn)) in.dsn = std::move(dsn);
  } else {
    in.dsn = path;
  }
  return in;
}

}  // namespace quarn::shm
