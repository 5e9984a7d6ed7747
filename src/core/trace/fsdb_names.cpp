#include "trace/fsdb_names.h"

#include <string_view>

#include "trace/fsdb_blocks.h"

namespace quarn::fsdb {

namespace {

bool has_forbidden_char(std::string_view s) {
  return s.find_first_of("/{(=+-\\@ ") != std::string_view::npos;
}

bool names_artefact(std::string_view s) {
  for (std::string_view bad : {".log", ".tcl", ".fsdb", "simv", "csrc", "daidir"})
    if (s.find(bad) != std::string_view::npos) return true;
  return false;
}

bool dotted_parts_ok(std::string_view s) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = s.find('.', start);
    const std::string_view part = s.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty() || !is_name_start(static_cast<std::uint8_t>(part[0]))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

bool is_identifier(std::string_view s) {
  return is_plain_name(s) && !has_forbidden_char(s) && !names_artefact(s) && dotted_parts_ok(s);
}

std::string_view as_text(Bytes data, std::size_t begin, std::size_t end) {
  return {reinterpret_cast<const char*>(data.data()) + begin, end - begin};
}

}  // namespace

std::vector<std::string> extract_identifiers(Bytes data) {
  std::vector<std::string> out;
  std::size_t p = 0;
  while (p < data.size()) {
    if (!is_graphic(data[p])) {
      ++p;
      continue;
    }
    std::size_t e = p + 1;
    while (e < data.size() && is_printable(data[e])) ++e;
    if (e >= data.size()) break;  // the data ended inside the run
    if (data[e] == 0x00) {
      const std::string_view s = as_text(data, p, e);
      if (is_identifier(s)) out.emplace_back(s);
    }
    p = e + 1;  // the run's tail is never a candidate of its own
  }
  return out;
}

std::vector<std::string> scan_tail_names(Bytes tail) {
  std::vector<std::string> out;
  const std::size_t n = tail.size();
  std::size_t q = 0;
  while (q < n) {
    if (!(tail[q] == 0x02 && q + 1 < n && is_ascii_letter(tail[q + 1]))) {
      ++q;
      continue;
    }
    const bool skip = q > 0 && tail[q - 1] == 0x04;
    std::size_t r = q + 1;
    bool reached_end = false;
    for (;;) {
      // A run is one or more printable bytes; an empty run (0x00 right away)
      // or any other byte stops the reading there.
      if (r >= n || !is_printable(tail[r])) break;
      std::size_t e = r + 1;
      while (e < n && is_printable(tail[e])) ++e;
      if (e >= n) {
        reached_end = true;
        break;
      }
      if (tail[e] != 0x00) {
        r = e;  // scanning resumes at that byte: it may start a new marker
        break;
      }
      const std::string_view s = as_text(tail, r, e);
      if (!skip && is_plain_name(s)) out.emplace_back(s);
      r = e + 1;
    }
    if (reached_end) break;
    q = r;
  }
  return out;
}

void add_names(TraceRecord& record, const std::vector<std::string>& names) {
  for (const auto& name : names) record.names.add_signal(name, record.names.size(), 1);
}

void WidthWalk::feed(const std::uint8_t* p, std::size_t n, bool at_end) {
  if (done()) return;
  pending_.insert(pending_.end(), p, p + n);
  walk(at_end);
}

void WidthWalk::walk(bool at_end) {
  const std::vector<std::uint8_t>& b = pending_;
  std::size_t i = 0;
  // Before the end, a record is read only with 5 bytes in view, enough for
  // the longest one and for the "fewer than 5 bytes remain" test.
  while (i < b.size() && (at_end || i + 5 <= b.size())) {
    const std::uint8_t lead = b[i];
    if (lead == 0x21) {
      done_ = true;
      break;
    }
    if (lead == 0x01) {
      if (i + 2 >= b.size()) {
        done_ = true;
        break;
      }
      const std::uint8_t type = b[i + 2];
      widths_.push_back(width_for_type(type));
      if (widths_.size() >= name_count_) {
        done_ = true;
        break;
      }
      i += ((type == 'C' || type == 'D') && b.size() - i >= 5) ? 5 : 3;
    } else if (lead == 0x02) {
      i += 4;
    } else {
      i += 1;
    }
  }
  if (done_ || at_end) {
    pending_.clear();
    done_ = true;
    return;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(std::min(i, b.size())));
}

void apply_width_section(TraceRecord& record, Bytes file, std::uint64_t w) {
  if (w == 0 || !fits(w, 5, file.size())) return;  // W + 4 must lie inside the file
  const std::uint64_t length = read_le(file, w, 4);
  if (!fits(w + 4, length, file.size())) return;
  WidthWalk walk(record.names.size());
  bool any = false;
  // The whole stream must inflate before any width counts, but only the
  // records the walk reads are kept, so a large section costs time, not memory.
  const bool ok = inflate_stream(file.subspan(w + 4, length), [&](const std::uint8_t* p, std::size_t n) {
    any = true;
    walk.feed(p, n, false);
  });
  if (!ok || !any || record.names.size() == 0) return;
  walk.feed(nullptr, 0, true);
  const auto& widths = walk.widths();
  for (std::size_t k = 0; k < widths.size(); ++k) record.names.set_width(k, widths[k]);
}

}  // namespace quarn::fsdb
