#pragma once

// A fresh directory for a test's files, removed with everything in it.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace quarn::test {

class TempDir {
 public:
  // mkdtemp's letters and digits: no "-", which would change the order of
  // SHM transition files.
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "quarn_XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) std::abort();
    path_ = templ;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path path(std::string_view name) const { return path_ / name; }
  std::string operator/(std::string_view name) const { return (path_ / name).string(); }

  /// Writes `bytes` to `name` inside the directory; returns the full path.
  template <class ByteRange>
  std::string write(std::string_view name, const ByteRange& bytes) const {
    const std::string p = *this / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(std::data(bytes)), static_cast<std::streamsize>(std::size(bytes)));
    return p;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace quarn::test
