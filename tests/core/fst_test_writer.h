// Writes small FST files with the FST library's own writer, so tests control
// every name, handle, time and value byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "fstapi.h"
#include "temp_dir.h"

namespace quarn::test {

/// Thin wrapper over fstWriter*; the file is complete after `close`.
class FstWriter {
 public:
  struct Options {
    fstWriterPackType pack = FST_WR_PT_ZLIB;
    bool gzip_whole_file = false;
    bool compressed_hierarchy = true;
  };
  FstWriter(const std::filesystem::path& file, Options options);
  ~FstWriter() { close(); }

  void scope(const char* name) { fstWriterSetScope(ctx_, FST_ST_VCD_MODULE, name, nullptr); }
  void upscope() { fstWriterSetUpscope(ctx_); }
  /// A variable; `alias` is the handle it shares, 0 for its own.
  fstHandle var(const char* name, std::uint32_t bits, fstHandle alias = 0, fstVarType type = FST_VT_VCD_WIRE);
  fstHandle real(const char* name) { return var(name, 8, 0, FST_VT_VCD_REAL); }
  fstHandle string(const char* name) { return var(name, 0, 0, FST_VT_GEN_STRING); }
  void time(std::uint64_t t) { fstWriterEmitTimeChange(ctx_, t); }
  void value(fstHandle h, const char* digits) { fstWriterEmitValueChange(ctx_, h, digits); }
  void value(fstHandle h, double d) { fstWriterEmitValueChange(ctx_, h, &d); }
  void text(fstHandle h, const std::string& s);
  /// Ends the current value-change block; later changes go to a new one.
  void flush() { fstWriterFlushContext(ctx_); }
  void close();

 private:
  void* ctx_;
};

/// One design exercising the hierarchy rules: a top-level variable, a scope
/// closed and opened again, an alias, a repeated full name, a real, a string
/// and a 100-bit vector; values from before the first time step; steps at
/// 10, 20, 30 and 40.
void write_design(const std::filesystem::path& file, FstWriter::Options options);

/// Random values of every kind the library stores: packed 0/1 vectors, raw
/// four-state text, the nine one-bit states, reals, strings with empty
/// values, aliases, bit-blasted buses ("top.q" of bits 0, 1 and 3, "top.p"
/// whose bit 0 is "top.v0"), a variable never written, values set before the
/// first time step (the first frame), and 120 steps in three blocks.
void write_random_blocks(const std::filesystem::path& file, FstWriter::Options options, unsigned seed);

}  // namespace quarn::test
