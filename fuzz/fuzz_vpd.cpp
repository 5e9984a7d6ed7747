// libFuzzer target for the VPD reader. Inputs get the VPD magic, so every
// input of 128 bytes or more must load; names and scopes are checked too.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "trace/vendor_identifier_scan.h"
#include "trace/vpd_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> file(data, data + size);
  if (file.size() >= 4) {
    const std::uint8_t magic[4] = {0x78, 0x56, 0x34, 0x12};
    std::copy(magic, magic + 4, file.begin());
  }
  auto result = quarn::VpdTrace::from_bytes(file);
  if (file.size() < 128) return std::holds_alternative<std::string>(result) ? 0 : (std::abort(), 0);
  if (!std::holds_alternative<quarn::RecordTrace>(result)) std::abort();
  const auto& t = std::get<quarn::RecordTrace>(result);
  const auto& names = t.signal_names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!quarn::is_vendor_identifier(names[i]) || t.signal_id(names[i]) != i || t.signal_width(names[i]) != 1)
      std::abort();
  if (!std::is_sorted(t.scopes().begin(), t.scopes().end()) || t.max_index() != 0) std::abort();
  return 0;
}
