#include "trace/shm_design.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "trace/shm_facts.h"
#include "trace/text_scan.h"

namespace quarn::shm {

namespace {

// Finds the first NUL at or after a position. Strings of neighbouring records
// search overlapping stretches, so the last answer is reused while it holds.
class NulFinder {
 public:
  explicit NulFinder(std::string_view data) : data_(data) {}

  /// Position of the first NUL at or after `i` (i < size), or size if none.
  std::size_t next(std::size_t i) {
    if (i >= from_ && i <= found_ && found_ != kUnset) return found_;
    const void* p = std::memchr(data_.data() + i, 0, data_.size() - i);
    from_ = i;
    found_ = p ? static_cast<std::size_t>(static_cast<const char*>(p) - data_.data()) : data_.size();
    return found_;
  }

 private:
  static constexpr std::size_t kUnset = static_cast<std::size_t>(-1);
  std::string_view data_;
  std::size_t from_ = 0;
  std::size_t found_ = kUnset;
};

template <class Sink>
void scan_strings(std::string_view data, NulFinder& nul, std::size_t start, std::size_t end, Sink sink) {
  // Positions past the data hold no string, so the range ends with the data.
  end = std::min(end, data.size());
  std::size_t i = start;
  while (i < end) {
    if (!is_printable(static_cast<unsigned char>(data[i]))) {
      ++i;
      continue;
    }
    const std::size_t z = nul.next(i);
    const std::size_t stop = z < data.size() ? z : end;
    const std::string_view s = data.substr(i, stop - i);
    if (is_valid_utf8(s) && !sink(s)) return;
    i = stop + 1;
  }
}

struct Walk {
  std::string_view data;
  NulFinder nul;
  ShmDesign design;
  // A string runs to the next NUL anywhere in the file, so crafted records
  // could admit a long name per record and need memory quadratic in the file
  // size. A real design file holds each name's bytes about once; past many
  // times the file's size, the rest of the walk admits nothing.
  std::size_t budget = 16 * data.size() + (std::size_t{16} << 20);

  bool spend(std::size_t bytes) {
    if (bytes > budget) {
      budget = 0;
      return false;
    }
    budget -= bytes;
    return true;
  }

  void scope_record(std::size_t start, std::size_t end) {
    scan_strings(data, nul, start, end, [&](std::string_view s) {
      if (s.size() < 2) return true;
      if (!spend(s.size())) return false;
      design.scopes.emplace_back(s);
      return true;
    });
  }

  void signal_record(std::size_t pos, std::uint32_t text, std::size_t start, std::size_t end) {
    if (pos < text && text < data.size()) {
      // The record names itself at Text: at most one new name.
      scan_strings(data, nul, text, std::min(data.size(), std::size_t{text} + kNameRange), [&](std::string_view s) {
        if (!is_signal_name(s) || design.name_to_id.find(s) != design.name_to_id.end()) return true;
        if (spend(s.size())) design.admit(std::string(s));
        return false;
      });
      return;
    }
    scan_strings(data, nul, start, end, [&](std::string_view s) {
      if (!is_signal_name(s)) return true;
      if (!spend(s.size())) return false;
      design.admit(std::string(s));
      return true;
    });
  }

  // Next record position after an unusable Next, or 0 when the walk ends.
  std::size_t resync(std::size_t pos) const {
    const std::size_t limit = std::min(pos + kResyncReach, data.size() - kRecordHeader);
    for (std::size_t p = pos + kRecordHeader; p < limit; p += 4)
      if (is_resync_candidate(be32(data, p))) return p;
    return 0;
  }

  void run() {
    const std::size_t len = data.size();
    std::size_t pos = kFirstRecord;
    while (pos + kRecordHeader <= len) {
      const std::uint32_t tag = be32(data, pos);
      if (tag == 0) {
        pos += 4;
        continue;
      }
      const std::uint32_t next = be32(data, pos + 4);
      const std::uint32_t text = be32(data, pos + 8);
      const bool next_ok = pos < next && next <= len;
      const std::size_t start = pos < text && text <= len ? std::max<std::size_t>(pos + kRecordHeader, text)
                                                          : pos + kRecordHeader;
      const std::size_t end = next_ok ? std::size_t{next} : std::min(len, pos + kFallbackRange);
      switch (record_handling(tag)) {
        case RecordHandling::Scope:
          scope_record(start, end);
          break;
        case RecordHandling::Signal:
          signal_record(pos, text, start, end);
          break;
        case RecordHandling::None:
          break;
      }
      // Only a forward Next is followed, so the walk always ends.
      pos = next_ok ? std::size_t{next} : resync(pos);
      if (pos == 0) break;
    }
  }
};

}  // namespace

std::vector<std::string> extract_strings(std::string_view data, std::size_t start, std::size_t end) {
  std::vector<std::string> out;
  NulFinder nul(data);
  scan_strings(data, nul, start, end, [&](std::string_view s) {
    out.emplace_back(s);
    return true;
  });
  return out;
}

void ShmDesign::admit(const std::string& name) {
  if (name_to_id.find(name) != name_to_id.end()) return;
  name_to_id.emplace(name, names.size());
  names.push_back(name);
}

std::variant<ShmDesign, std::string> read_design(std::string_view data) {
  if (data.size() < kMinDesignWithMagic) return ShmDesign{};
  const std::uint32_t magic = be32(data, 0);
  if (magic != kMagic) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", magic);
    return std::string("Bad DSN magic: 0x") + hex;
  }
  if (data.size() < kMinDesignWithRecords) return ShmDesign{};
  Walk walk{data, NulFinder(data), {}};
  walk.run();
  return std::move(walk.design);
}

}  // namespace quarn::shm
