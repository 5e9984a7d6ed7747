// A bounded random mutation run of a libFuzzer target, for builds without
// libFuzzer: each run mutates one corpus input (byte flips, inserts, cuts,
// copies, known byte patterns) and feeds it to the target. Usage:
//   fuzz_fsdb_mutate <corpus dir> <runs> <seed>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

Input text(const char* s) { return Input(s, s + std::char_traits<char>::length(s)); }

// Byte patterns the reader looks for; splicing them in reaches more branches.
const std::vector<Input> kPatterns = {
    {0x38, 0x43, 0x00, 0x04, 0x00, 0x08}, {0x44, 0x00, 0x63, 0x00, 0x03, 0x08}, {0xC1, 0x21, 0x00, 0x00},
    {0xFF, 0xFF, 0xFF, 0xFF}, {0x08}, {0x78, 0x9C}, {0x21, 0x00, 0x00}, {0x02, 'a', 'b', 0x00}, {'|', '|', '|'},
    {0x01, 0x00, 'C', 0x00, 0x00}, {0x1C, 0x3E, 0xD9, 0x48}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
    // VCD tokens
    text(" $var wire 1 ! a [0] $end "), text(" $end "), text(" $scope module m $end "), text(" $upscope $end "),
    text("\n#18446744073709551615\n"), text(" bx1z "), text(" r-nan "), text(" sx "), text(" $dumpvars "),
    text(" $var event 1 \" e $end "), text(" $var wire 1 # a [1] $end ")};

void mutate(Input& in, std::mt19937_64& rng) {
  const int ops = 1 + static_cast<int>(rng() % 6);
  for (int k = 0; k < ops; ++k) {
    const std::size_t n = in.size();
    const std::size_t at = n ? rng() % (n + 1) : 0;
    switch (rng() % 7) {
      case 0:
        if (n) in[rng() % n] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        break;
      case 1:
        if (n) in[rng() % n] = static_cast<std::uint8_t>(rng());
        break;
      case 2:
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), 1 + rng() % 8, static_cast<std::uint8_t>(rng()));
        break;
      case 3:
        if (at < n) in.erase(in.begin() + static_cast<std::ptrdiff_t>(at),
                             in.begin() + static_cast<std::ptrdiff_t>(std::min(n, at + 1 + rng() % 16)));
        break;
      case 4:
        in.resize(at);
        break;
      case 5: {
        const auto& p = kPatterns[rng() % kPatterns.size()];
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), p.begin(), p.end());
        break;
      }
      default:
        if (n) {
          const std::size_t from = rng() % n, len = 1 + rng() % std::min<std::size_t>(n - from, 64);
          const Input chunk(in.begin() + static_cast<std::ptrdiff_t>(from),
                            in.begin() + static_cast<std::ptrdiff_t>(from + len));
          in.insert(in.begin() + static_cast<std::ptrdiff_t>(at), chunk.begin(), chunk.end());
        }
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <corpus dir> <runs> <seed>\n", argv[0]);
    return 2;
  }
  std::vector<Input> corpus;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    std::ifstream f(entry.path(), std::ios::binary);
    corpus.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  if (corpus.empty()) return 1;
  const std::uint64_t runs = std::strtoull(argv[2], nullptr, 10);
  std::mt19937_64 rng(std::strtoull(argv[3], nullptr, 10));
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t r = 0; r < runs; ++r) {
    Input in = corpus[rng() % corpus.size()];
    mutate(in, rng);
    LLVMFuzzerTestOneInput(in.data(), in.size());
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%llu executions in %.1f s, no failure\n", static_cast<unsigned long long>(runs), secs);
  return 0;
}
