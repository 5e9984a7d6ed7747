// libFuzzer target for the FST reader: any byte string must load or fail
// with a message, never crash, hang or leave the process; and a lazily
// opened trace must answer as the eager load did.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "signal/column.h"
#include "trace/fst_lazy_trace.h"
#include "trace/fst_trace.h"

namespace {

void compare(const std::string& path) {
  auto eager = quarn::FstTrace::from_file(path);
  auto opened = quarn::LazyFstTrace::open(path);
  const auto* lazy = std::get_if<quarn::LazyFstTrace>(&opened);
  if (lazy == nullptr) {
    // The lazy open checks all the eager load checks before the values.
    if (std::holds_alternative<quarn::RecordTrace>(eager)) std::abort();
    return;
  }
  std::vector<quarn::SignalId> ids;
  for (const std::string& name : lazy->signal_names()) ids.push_back(*lazy->signal_id(name));
  lazy->load_columns(ids);
  const auto* whole = std::get_if<quarn::RecordTrace>(&eager);
  // The eager load decodes unnamed signals' chains too, so only its failure
  // may go without the lazy trace's.
  if (whole == nullptr) return;
  if (!lazy->column_error().empty()) std::abort();
  if (whole->signal_names() != lazy->signal_names() || whole->max_index() != lazy->max_index()) std::abort();
  for (const quarn::SignalId id : ids) {
    quarn::ColumnCursor a(whole->column(id)), b(lazy->column(id));
    for (quarn::Index i = 0; i <= whole->max_index(); ++i)
      if (!quarn::identical(a.at(i), b.at(i))) std::abort();
  }
}

}  // namespace

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
  if (done == size) compare("/proc/self/fd/" + std::to_string(fd));
  ::close(fd);
  return 0;
}
