// Runs a libFuzzer target over files and directories of inputs, for builds
// without libFuzzer (g++): the corpus then runs as an ordinary test.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void run_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // Every prefix too: truncated files are the commonest damage.
  for (std::size_t cut = bytes.size(); cut > 0;) {
    cut = cut > 64 ? cut - 1 - cut / 64 : cut - 1;
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), cut);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) run_file(entry.path()), ++files;
    } else {
      run_file(arg), ++files;
    }
  }
  std::printf("replayed %zu inputs and their prefixes\n", files);
  return files > 0 ? 0 : 1;
}
