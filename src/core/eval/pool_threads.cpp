#include <string_view>

#include "eval/thread_pool.h"
#include "signal/signal_value.h"

namespace quarn {

std::size_t threads_from_env(const char* value) {
  if (value == nullptr) return 0;
  const auto n = parse_decimal_u64(std::string_view(value));
  if (!n || *n == 0) return 0;
  return *n > 4096 ? 4096 : static_cast<std::size_t>(*n);
}

}  // namespace quarn
