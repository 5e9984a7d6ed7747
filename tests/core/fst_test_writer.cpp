#include "fst_test_writer.h"

#include <random>

namespace quarn::test {

TempDir::TempDir() {
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() / ("quarn-fst-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

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

}  // namespace quarn::test
