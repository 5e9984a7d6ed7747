// libFuzzer target for the SHM reader. An input is one design file and two
// transition files: bytes 0-1 and 2-3 (big-endian) choose where the rest is
// split. Each part gets the magic, so every input must load, and the loaded
// trace is checked for the reader's invariants.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "trace/shm_facts.h"
#include "trace/shm_reader.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string with_magic(std::string_view part) {
  std::string s(part);
  if (s.size() >= 4) s.replace(0, 4, "\xA1\x95\x11\xBF", 4);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::size_t a = (std::size_t{data[0]} << 8) | data[1];
  const std::size_t b = (std::size_t{data[2]} << 8) | data[3];
  std::string_view rest = in.substr(4);
  const std::string dsn = with_magic(rest.substr(0, a % (rest.size() + 1)));
  rest.remove_prefix(a % (rest.size() + 1));
  const std::string trn1 = with_magic(rest.substr(0, b % (rest.size() + 1)));
  const std::string trn2 = with_magic(rest.substr(b % (rest.size() + 1)));

  // Small caps keep each run short; the capped paths are the same code.
  auto result = quarn::ShmTrace::from_bytes(dsn, {trn1, trn2}, {20'000, 20'000});
  check(std::holds_alternative<quarn::RecordTrace>(result));
  const auto& t = std::get<quarn::RecordTrace>(result);

  const auto& names = t.signal_names();
  for (std::size_t i = 0; i < names.size(); ++i)
    check(quarn::shm::is_signal_name(names[i]) && t.signal_id(names[i]) == i && t.signal_width(names[i]) == 1);
  check(t.timestamp(0) == 0);
  for (quarn::Index i = 1; i <= t.max_index(); ++i) check(t.timestamp(i - 1) < t.timestamp(i));

  // Either no transition file was decoded and nothing has a value, or every
  // signal has Bits 0 or 1 at every index.
  const bool decoded = !names.empty() && t.signal_value(names[0], 0).tag() != quarn::ValueTag::Empty;
  for (std::size_t n = 0; n < names.size() && n < 32; ++n) {
    for (quarn::Index i = 0; i <= t.max_index() && i < 512; ++i) {
      const quarn::SignalValue v = t.signal_value(names[n], i);
      if (decoded)
        check(v.tag() == quarn::ValueTag::Bits && v.as_bits() <= 1);
      else
        check(v.tag() == quarn::ValueTag::Empty);
    }
  }
  return 0;
}
