// Runs a libFuzzer target over files and directories of inputs, for builds
// without libFuzzer (g++): the corpus then runs as an ordinary test.
// Usage: fuzz_<reader> [--whole] PATH...   (--whole: skip the prefixes)

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run_file(const std::filesystem::path& path, bool prefixes) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (!prefixes) return;
  // Every prefix too: truncated files are the commonest damage.
  for (std::size_t cut = bytes.size(); cut > 0;) {
    cut = cut > 64 ? cut - 1 - cut / 64 : cut - 1;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), cut);
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool prefixes = true;
  std::size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--whole") == 0) {
      prefixes = false;
      continue;
    }
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
        if (entry.is_regular_file()) run_file(entry.path(), prefixes), ++files;
    } else if (std::filesystem::exists(arg)) {
      run_file(arg, prefixes), ++files;
    }
  }
  std::printf("replayed %zu inputs%s\n", files, prefixes ? " and their prefixes" : "");
  return files > 0 ? 0 : 1;
}
