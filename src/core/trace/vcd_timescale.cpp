#include "trace/vcd_timescale.h"

#include "trace/line_reader.h"

namespace quarn {
namespace {
// A declaration longer than this is not one.
constexpr std::size_t kMaxDeclaration = 256;
}  // namespace

void VcdTimescaleScan::line(std::string_view line) {
  if (done_) return;
  if (!inside_) {
    const std::size_t at = line.find("$timescale");
    if (at == std::string_view::npos) {
      // Values or the end of the definitions: no declaration will come.
      const std::size_t first = line.find_first_not_of(" \t\r");
      if (line.find("$enddefinitions") != std::string_view::npos ||
          (first != std::string_view::npos && line[first] == '#'))
        done_ = true;
      return;
    }
    inside_ = true;
    line.remove_prefix(at + 10);
  }
  const std::size_t end = line.find("$end");
  text_.append(line.substr(0, end));
  text_.push_back(' ');
  if (end != std::string_view::npos || text_.size() > kMaxDeclaration) {
    result_ = parse_timescale(text_);
    done_ = true;
  }
}

std::optional<Timescale> vcd_timescale(std::string_view text) {
  VcdTimescaleScan scan;
  std::size_t pos = 0;
  while (!scan.done() && pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    const std::size_t stop = nl == std::string_view::npos ? text.size() : nl;
    scan.line(text.substr(pos, stop - pos));
    pos = stop + 1;
  }
  return scan.result();
}

}  // namespace quarn
