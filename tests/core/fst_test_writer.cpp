#include "fst_test_writer.h"

#include <random>
#include <utility>
#include <vector>

namespace quarn::test {

FstWriter::FstWriter(const std::filesystem::path& file, Options options)
    : ctx_(fstWriterCreate(file.c_str(), options.compressed_hierarchy)) {
  fstWriterSetPackType(ctx_, options.pack);
  fstWriterSetRepackOnClose(ctx_, options.gzip_whole_file);
}

fstHandle FstWriter::var(const char* name, std::uint32_t bits, fstHandle alias, fstVarType type) {
  return fstWriterCreateVar(ctx_, type, FST_VD_IMPLICIT, bits, name, alias);
}

void FstWriter::text(fstHandle h, const std::string& s) {
  fstWriterEmitVariableLengthValueChange(ctx_, h, s.data(), static_cast<std::uint32_t>(s.size()));
}

void FstWriter::close() {
  if (ctx_) fstWriterClose(ctx_);
  ctx_ = nullptr;
}

void write_design(const std::filesystem::path& file, FstWriter::Options options) {
  FstWriter w(file, options);
  const fstHandle top = w.var("top_flag", 1);
  w.scope("top");
  const fstHandle clk = w.var("clk", 1);
  const fstHandle bus = w.var("bus [7:0]", 8);
  w.upscope();
  w.scope("top");  // reopened
  w.var("clk_alias", 1, clk);
  const fstHandle dup = w.var("clk", 1);  // same full name as top.clk: numbered
  const fstHandle r = w.real("temp");
  const fstHandle s = w.string("msg");
  const fstHandle wide = w.var("wide", 100);
  w.scope("sub");
  w.var("b", 8, bus);
  w.upscope();
  w.upscope();

  // Written before any time step: the frame of the first block.
  w.value(top, "1");
  w.value(clk, "0");
  w.value(bus, "xxxxxxxx");
  w.value(dup, "1");
  w.value(r, 1.5);
  w.value(wide, (std::string(99, '0') + "1").c_str());
  w.time(10);
  w.value(clk, "1");
  w.value(bus, "00000101");
  w.text(s, "false");
  w.time(20);
  w.value(clk, "0");
  w.value(r, -2.25);
  w.value(wide, ("1" + std::string(99, '0')).c_str());
  w.value(dup, "0");
  w.time(30);
  w.value(bus, "0000z101");
  w.text(s, "hello");
  w.time(40);
}

void write_random_blocks(const std::filesystem::path& file, FstWriter::Options options, unsigned seed) {
  std::mt19937 rng(seed);
  FstWriter w(file, options);
  w.scope("top");
  std::vector<std::pair<fstHandle, std::uint32_t>> vars;
  for (std::uint32_t bits : {1u, 1u, 2u, 3u, 7u, 8u, 9u, 31u, 63u, 64u, 65u, 100u, 128u, 129u, 130u, 200u})
    vars.emplace_back(w.var(("v" + std::to_string(vars.size())).c_str(), bits), bits);
  for (const char* bit : {"q [0]", "q [1]", "q [3]"}) vars.emplace_back(w.var(bit, 1), 1);
  w.var("p [0]", 1, vars[0].first);
  vars.emplace_back(w.var("p [1]", 1), 1);
  const fstHandle r = w.real("r");
  const fstHandle s = w.string("s");
  w.var("alias", 8, vars[5].first);
  w.var("never", 4);
  w.upscope();
  const std::string one_bit = "01xzhuwl-";
  auto digits = [&](std::uint32_t bits) {
    std::string d(bits, '0');
    const bool four_state = rng() % 5 == 0;
    for (auto& c : d) c = four_state ? "01xz"[rng() % 4] : "01"[rng() % 2];
    if (rng() % 4 == 0) std::fill(d.begin(), d.begin() + bits / 2, '0');  // leading zeros
    return d;
  };
  auto emit_all = [&] {
    for (const auto& [h, bits] : vars) {
      if (rng() % 3 == 0) continue;
      const std::string d = bits == 1 ? std::string(1, one_bit[rng() % one_bit.size()]) : digits(bits);
      w.value(h, d.c_str());
    }
    if (rng() % 2) w.value(r, static_cast<double>(rng()) / 7.0);
    if (rng() % 3 == 0) w.text(s, rng() % 4 ? "t" + std::to_string(rng() % 100) : std::string());
  };
  emit_all();  // before the first step: the first block's frame
  for (int t = 0; t < 120; ++t) {
    w.time(static_cast<std::uint64_t>(3 + t * (1 + rng() % 4)));
    emit_all();
    if (t % 40 == 39) w.flush();
  }
}

}  // namespace quarn::test
