#include "eval/pool_source.h"

namespace quarn {

const QuarnPool* find_pool(std::size_t threads) { return quarn_pool(threads); }

}  // namespace quarn
