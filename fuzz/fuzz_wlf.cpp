// libFuzzer target for the WLF reader. Every input of a page or more must
// load; timestamps must equal their index and values be one byte.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "trace/vendor_identifier_scan.h"
#include "trace/wlf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto result = quarn::WlfTrace::from_bytes({data, size});
  if (size < 8192) return std::holds_alternative<std::string>(result) ? 0 : (std::abort(), 0);
  if (!std::holds_alternative<quarn::RecordTrace>(result)) std::abort();
  const auto& t = std::get<quarn::RecordTrace>(result);
  const auto& names = t.signal_names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (!quarn::is_vendor_identifier(names[i]) || t.signal_id(names[i]) != i) std::abort();
  if (!std::is_sorted(t.scopes().begin(), t.scopes().end())) std::abort();
  for (quarn::Index i = 0; i <= t.max_index(); ++i) {
    if (t.timestamp(i) != i) std::abort();
    for (quarn::SignalId id = 0; id < names.size() && id < 256; ++id) {
      const auto v = quarn::to_u64(t.signal_value_by_id(id, i));
      if (v && *v > 255) std::abort();
    }
  }
  return 0;
}
