// The pool from its own library, installed beside the module that holds this
// code and loaded on first use.

#include <dlfcn.h>

#include <string>

#include "eval/pool_source.h"

namespace quarn {

const QuarnPool* find_pool(std::size_t threads) {
  Dl_info self{};
  if (dladdr(reinterpret_cast<const void*>(&find_pool), &self) == 0 || self.dli_fname == nullptr) return nullptr;
  std::string path(self.dli_fname);
  const std::size_t slash = path.rfind('/');
  path.erase(slash == std::string::npos ? 0 : slash + 1);
  path += "libquarn_pool.so";
  // Never closed: the pool's threads live as long as the process.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  const auto make = reinterpret_cast<const QuarnPool* (*)(std::size_t)>(dlsym(library, "quarn_pool"));
  return make ? make(threads) : nullptr;
}

}  // namespace quarn
