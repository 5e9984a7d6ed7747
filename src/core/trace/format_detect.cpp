#include "trace/format_detect.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "trace/byte_source.h"
#include "trace/fsdb_facts.h"
#include "trace/fst_validate.h"
#include "trace/shm_facts.h"
#include "trace/vpd_layout.h"

namespace quarn {
namespace {

// Enough to see past a long $date/$version/$comment block.
constexpr std::size_t kHeadBytes = 16384;
constexpr std::uint64_t kFstHeaderLength = 329;
constexpr std::size_t kWlfPage = 8192;

std::uint32_t be32(std::string_view s, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
  return v;
}

std::uint64_t be64(std::string_view s, std::size_t at) {
  return (std::uint64_t{be32(s, at)} << 32) | be32(s, at + 4);
}

bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// What an unrecognised head looks like, for the error message.
std::string describe(std::string_view head) {
  if (head.empty()) return "an empty file";
  if (starts_with(head, "\x89PNG")) return "a PNG image";
  if (starts_with(head, "PK\x03\x04")) return "a ZIP archive";
  if (starts_with(head, "%PDF")) return "a PDF document";
  if (starts_with(head, "\x7f" "ELF")) return "an ELF executable";
  if (starts_with(head, "\xff\xd8\xff")) return "a JPEG image";
  bool text = true;
  for (char c : head.substr(0, 256)) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 && c != '\n' && c != '\r' && c != '\t') text = false;
  }
  if (text) {
    std::string shown;
    for (char c : head.substr(0, 40)) shown.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
    return "text starting with '" + shown + "'";
  }
  std::string hex = "binary data starting with";
  char byte[4];
  for (char c : head.substr(0, 8)) {
    std::snprintf(byte, sizeof byte, " %02X", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    hex += byte;
  }
  return hex;
}

std::string_view packing_name(Packing p) {
  switch (p) {
    case Packing::Gzip: return "gzip";
    case Packing::Bzip2: return "bzip2";
    case Packing::Zstd: return "zstd";
    case Packing::Plain: break;
  }
  return "";
}

// Up to kHeadBytes of the content, decoded when `decode`; sets `error` when
// the file cannot be opened or read at all.
std::string read_head(const std::string& path, bool decode, std::string& error) {
  auto opened = open_byte_source(path);
  if (auto* e = std::get_if<std::string>(&opened)) {
    error = *e;
    return {};
  }
  ByteSource& src = *std::get<0>(opened);
  std::string head(kHeadBytes, '\0');
  std::size_t have = 0;
  while (have < head.size()) {
    const long got = decode ? src.read(head.data() + have, head.size() - have) : -2;
    if (got == -2) break;
    if (got < 0) {
      // A packed file cut short still shows what it holds.
      if (have == 0) error = src.error();
      break;
    }
    if (got == 0) break;
    have += static_cast<std::size_t>(got);
  }
  head.resize(have);
  return head;
}

// The first kHeadBytes of the file as stored.
std::string read_raw_head(const std::string& path, std::string& error) {
  std::FILE* f = path.find('\0') == std::string::npos ? std::fopen(path.c_str(), "rb") : nullptr;
  if (f == nullptr) {
    read_head(path, false, error);  // the open message every reader gives
    if (error.empty()) error = "Failed to open " + path;
    return {};
  }
  std::string head(kHeadBytes, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), f));
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    read_head(path, true, error);
    if (error.empty()) error = "Failed to read " + path;
  }
  return head;
}

DetectedFormat detect_directory(const std::filesystem::path& dir) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const auto ext = entry.path().extension();
    if (ext == ".dsn" || ext == ".trn") return {TraceFormat::Shm, {}};
  }
  return {TraceFormat::Unknown, "a directory without SHM design (.dsn) or transition (.trn) files"};
}

}  // namespace

bool looks_like_vcd(std::string_view head) {
  if (head.find('\0') != std::string_view::npos) return false;
  if (starts_with(head, "\xEF\xBB\xBF")) head.remove_prefix(3);
  const std::size_t first = head.find_first_not_of(" \t\r\n\f\v");
  return first != std::string_view::npos && (head[first] == '$' || head[first] == '#');
}

TraceFormat format_of_head(std::string_view head) {
  const auto type = head.empty() ? 0xFFu : static_cast<std::uint8_t>(head[0]);
  if (head.size() >= 9 && type == static_cast<std::uint8_t>(FstBlock::Header) && be64(head, 1) == kFstHeaderLength)
    return TraceFormat::Fst;
  if (head.size() >= 19 && type == static_cast<std::uint8_t>(FstBlock::Wrapper) &&
      static_cast<std::uint8_t>(head[17]) == 0x1F && static_cast<std::uint8_t>(head[18]) == 0x8B)
    return TraceFormat::Fst;
  if (head.size() >= 8) {
    const std::uint32_t at4 = be32(head, fsdb::kMagicOffset);
    if (at4 == fsdb::kOlderMagic || at4 == fsdb::kNewerMagic) return TraceFormat::Fsdb;
  }
  if (head.size() >= 4) {
    const std::uint32_t le = static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[0])) |
                             static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[1])) << 8 |
                             static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[2])) << 16 |
                             static_cast<std::uint32_t>(static_cast<std::uint8_t>(head[3])) << 24;
    if (le == kVpdMagic) return TraceFormat::Vpd;
    if (be32(head, 0) == shm::kMagic) return TraceFormat::Shm;
  }
  if (looks_like_vcd(head)) return TraceFormat::Vcd;
  return TraceFormat::Unknown;
}

std::variant<DetectedFormat, std::string> detect_format(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path p(path);
  if (path.find('\0') == std::string::npos && std::filesystem::is_directory(p, ec)) return detect_directory(p);

  // The packing first: a packed file can only hold VCD text.
  std::string error;
  const std::string head = read_raw_head(path, error);
  if (!error.empty()) return error;
  const Packing packing = packing_of(reinterpret_cast<const std::uint8_t*>(head.data()), head.size());
  if (packing != Packing::Plain) {
    const std::string decoded = read_head(path, true, error);
    if (!error.empty()) return error;
    if (looks_like_vcd(decoded)) return DetectedFormat{TraceFormat::Vcd, std::string(packing_name(packing))};
    return DetectedFormat{TraceFormat::Unknown, std::string(packing_name(packing)) + "-packed " + describe(decoded)};
  }
  const TraceFormat format = format_of_head(head);
  if (format != TraceFormat::Unknown) return DetectedFormat{format, {}};
  if (p.extension() == ".wlf" && head.size() >= kWlfPage) return DetectedFormat{TraceFormat::Wlf, {}};
  return DetectedFormat{TraceFormat::Unknown, describe(head)};
}

std::string_view format_name(TraceFormat format) {
  switch (format) {
    case TraceFormat::Vcd: return "vcd";
    case TraceFormat::Fst: return "fst";
    case TraceFormat::Fsdb: return "fsdb";
    case TraceFormat::Vpd: return "vpd";
    case TraceFormat::Wlf: return "wlf";
    case TraceFormat::Shm: return "shm";
    case TraceFormat::Unknown: break;
  }
  return "unknown";
}

}  // namespace quarn
