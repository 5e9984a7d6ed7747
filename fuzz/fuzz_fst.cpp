// libFuzzer target for the FST reader: any byte string must load or fail
// with a message, never crash, hang or leave the process.

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "trace/fst_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader takes a path; an in-memory file keeps the disk out of it.
  const int fd = ::memfd_create("fst-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done == size) (void)quarn::FstTrace::from_file("/proc/self/fd/" + std::to_string(fd));
  ::close(fd);
  return 0;
}
