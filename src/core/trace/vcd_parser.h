#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "signal/signal_value.h"
#include "signal/types.h"
#include "trace/load_diagnostics.h"
#include "trace/name_alias.h"
#include "trace/text_scan.h"

namespace quarn {

/// What a sink says about a value change or timestamp it was given.
/// `Repaired`: read, but only after mending a known writer fault.
enum class VcdStatus : std::uint8_t { Ok, UnknownCode, BadValue, TimeBackwards, Repaired };

/// What a timestamp below the one before it is told with.
inline constexpr std::string_view kVcdTimeBackwards =
    "expected a time not below the previous one (this time and its changes are skipped)";

/// The keywords of VCD (and "$attrbegin", which some writers add).
inline bool is_vcd_keyword(std::string_view t) {
  static constexpr std::string_view kKeywords[] = {
      "$scope",    "$upscope", "$var",   "$enddefinitions", "$timescale", "$date",      "$version", "$comment",
      "$dumpvars", "$dumpall", "$dumpon", "$dumpoff",       "$end",       "$attrbegin", "$timezero"};
  if (t.size() < 4 || t.front() != '$') return false;
  for (std::string_view k : kKeywords)
    if (t == k) return true;
  return false;
}

/// "$" and letters: a keyword this reader does not know (a vendor's own),
/// skipped up to its "$end". Anything else starting with "$" is no command.
inline bool looks_like_keyword(std::string_view t) {
  if (t.size() < 2) return false;
  for (char c : t.substr(1))
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')) return false;
  return true;
}

/// One `$var` as declared.
struct VcdDecl {
  std::string_view kind;       // "wire", "reg", "event", "string", "real", ...
  Width width = 1;
  std::string_view code;
  std::string_view reference;  // the name, a trailing numeric "[...]" cut off (kept whole when escaped: "\o[0]")
  std::string_view range;      // "[7:0]", "[3]" or "" (split off the name or given apart)
};

/// Turns VCD tokens (see `for_each_vcd_token`) into calls on a sink:
///   scope(name), upscope(), var(const VcdDecl&), timescale(text), end_definitions(), drop_changes(),
///   timestamp(time, token, offset), scalar(char, code), vector(digits, code),
///   real(double, code), text(string, code)   (the last five return VcdStatus)
/// and reports what it skips or reads with a default to `diagnostics`.
/// Commands may span tokens and lines in any way; the parser keeps its place
/// between calls, so input may arrive in pieces.
template <class Sink>
class VcdParser {
 public:
  VcdParser(Sink& sink, LoadDiagnostics& diagnostics) : sink_(sink), diag_(diagnostics) {}

  /// One token, at byte `offset` of the whole input. Its bytes must stay
  /// valid until the next call of `detach` or `token`.
  [[gnu::always_inline]] void token(std::string_view t, std::uint64_t offset);
  /// The input ended at `offset`: reports an unfinished command or change.
  void end(std::uint64_t offset);
  /// Copies whatever the parser still views into its own storage, so the
  /// caller may reuse its buffer.
  void detach();
  /// Offset of the first token that only VCD has (a keyword or a timestamp),
  /// or ~0 when none was seen.
  std::uint64_t first_vcd_token() const { return first_vcd_; }
  /// Between commands and changes: no command open, no value awaiting its
  /// code, so the next token may start anything.
  bool at_rest() const { return command_ == Command::None && !pending_; }
  /// Value changes are expected (a timestamp, $dumpvars or $enddefinitions
  /// came); `enter_body` says so for a parser that starts there.
  bool in_body() const { return in_data_; }
  void enter_body() { in_data_ = true; }

 private:
  enum class Command : std::uint8_t { None, Scope, Upscope, Var, Timescale, EndDefinitions, Skip };

  [[gnu::always_inline]] void body_token(std::string_view t, std::uint64_t offset);
  [[gnu::noinline]] void keyword(std::string_view t, std::uint64_t offset);
  [[gnu::noinline]] void finish_command(std::uint64_t offset);
  void value_change_seen(std::string_view t, std::uint64_t offset) {
    if (!in_data_) diag_.report(offset, "expected declarations before $enddefinitions, not a value change", t);
  }
  void check(VcdStatus s, std::string_view t, std::uint64_t offset) {
    if (s != VcdStatus::Ok) [[unlikely]] report(s, t, offset);
  }
  [[gnu::noinline]] void report(VcdStatus s, std::string_view t, std::uint64_t offset);

  Sink& sink_;
  LoadDiagnostics& diag_;
  Command command_ = Command::None;
  std::string command_name_;
  std::vector<std::string> fields_;
  char pending_ = 0;  // 'b', 'r' or 's' while the code of a change is awaited
  std::string_view pending_value_;
  std::string pending_owned_;
  std::uint64_t pending_offset_ = 0;
  bool in_data_ = false;
  std::uint64_t first_vcd_ = ~std::uint64_t{0};
};

template <class Sink>
inline void VcdParser<Sink>::token(std::string_view t, std::uint64_t offset) {
  if (pending_) {
    const char kind = pending_;
    pending_ = 0;
    const std::string_view value = pending_value_;
    const std::string_view shown = std::string_view(value.data() - 1, value.size() + 1);
    if (kind == 'b') {
      check(sink_.vector(value, t), shown, pending_offset_);
    } else if (kind == 'r') {
      if (auto d = parse_real(value)) check(sink_.real(*d, t), shown, pending_offset_);
      else diag_.report(pending_offset_, "expected a real number", shown);
    } else {
      check(sink_.text(value, t), shown, pending_offset_);
    }
    return;
  }
  if (command_ == Command::None) return body_token(t, offset);
  if (t == "$end") return finish_command(offset);
  if (command_ == Command::Skip) return;
  if (is_vcd_keyword(t)) {
    // A keyword inside a declaration: its "$end" is missing. (Other tokens
    // starting with '$' are fields: '$' is a valid identifier code.)
    diag_.report(offset, "expected $end to close " + command_name_, t);
    finish_command(offset);
    return body_token(t, offset);
  }
  fields_.emplace_back(t);
}

template <class Sink>
inline void VcdParser<Sink>::body_token(std::string_view t, std::uint64_t offset) {
  const char c = t.front();
  const std::string_view rest(t.data() + 1, t.size() - 1);  // tokens are never empty
  switch (c) {
    case '$': return keyword(t, offset);
    case '#': {
      const auto time = parse_decimal_u64(rest);
      if (!time) {
        sink_.drop_changes();  // they belong to a time not known
        return diag_.report(offset, "expected a decimal time below 2^64 (this time and its changes are skipped)", t);
      }
      if (first_vcd_ == ~std::uint64_t{0}) first_vcd_ = offset;
      in_data_ = true;
      const VcdStatus s = sink_.timestamp(*time, t, offset);
      if (s == VcdStatus::TimeBackwards) diag_.report(offset, kVcdTimeBackwards, t);
      return;
    }
    case 'b': case 'B': case 'r': case 'R': case 's': case 'S':
      value_change_seen(t, offset);
      pending_ = static_cast<char>(c | 0x20);
      pending_value_ = rest;
      pending_offset_ = offset;
      return;
    default:
      if (logic_from_char(c) == 0xFF) return diag_.report(offset, "expected a value change, timestamp or keyword", t);
      value_change_seen(t, offset);
      if (t.size() == 1) return diag_.report(offset, "expected an identifier code right after the value", t);
      return check(sink_.scalar(c, rest), t, offset);
  }
}

template <class Sink>
void VcdParser<Sink>::keyword(std::string_view t, std::uint64_t offset) {
  const bool known = is_vcd_keyword(t);
  if (known && first_vcd_ == ~std::uint64_t{0}) first_vcd_ = offset;
  if (!known && !looks_like_keyword(t)) return diag_.report(offset, "expected a value change, timestamp or keyword", t);
  if (t == "$end") return;  // closes a $dumpvars-like section
  if (t == "$dumpvars" || t == "$dumpall" || t == "$dumpon" || t == "$dumpoff") {
    in_data_ = true;  // its value changes follow as ordinary tokens
    return;
  }
  command_name_.assign(t);
  fields_.clear();
  if (t == "$scope") command_ = Command::Scope;
  else if (t == "$upscope") command_ = Command::Upscope;
  else if (t == "$var") command_ = Command::Var;
  else if (t == "$enddefinitions") command_ = Command::EndDefinitions;
  else if (t == "$timescale") command_ = Command::Timescale;
  else command_ = Command::Skip;  // $comment, $date, vendors' own
}

template <class Sink>
void VcdParser<Sink>::finish_command(std::uint64_t offset) {
  const Command command = command_;
  command_ = Command::None;
  switch (command) {
    case Command::Scope:
      // Verilator writes a scope without a name: it adds no component.
      sink_.scope(fields_.size() >= 2 ? std::string_view(fields_[1]) : std::string_view());
      return;
    case Command::Upscope: sink_.upscope(); return;
    case Command::Timescale: {
      std::string text;  // "1ns", or "1 ns" over two tokens
      for (const std::string& f : fields_) text += f;
      sink_.timescale(text);
      return;
    }
    case Command::EndDefinitions:
      in_data_ = true;
      sink_.end_definitions();
      return;
    case Command::Var: {
      if (fields_.size() < 4) return diag_.report(offset, "expected '$var <kind> <width> <code> <name> $end'", "$var");
      VcdDecl d;
      d.kind = fields_[0];
      const auto width = parse_decimal_u32(fields_[1]);
      // Strings have no bits: writers give them width 0, or any.
      if (width && *width == 0 && fields_[0] == "string") {
        d.width = 0;
      } else if (!width || *width == 0 || *width >= (Width{1} << 31)) {
        // No width is made up for it: its changes then count as unknown codes.
        return diag_.report(offset, "expected a $var width from 1 to 2^31-1 (the variable is skipped)", fields_[1]);
      } else {
        d.width = *width;
      }
      d.code = fields_[2];
      d.reference = fields_[3];
      // Only the last bracket group is a range: in "delays[1][1:0]" the
      // first one names an array element. An escaped name ("\o[0]") keeps
      // its brackets.
      const VarNameParts parts =
          d.reference.front() == '\\' ? VarNameParts{d.reference, {}, {}, false} : split_var_name(d.reference);
      if (parts.msb) {
        d.range = d.reference.substr(d.reference.rfind('['));
        d.reference = parts.base;
      } else if (fields_.size() > 4) {
        // A range written apart, "[7:0]" or spread over tokens: joined.
        for (std::size_t k = 5; k < fields_.size(); ++k) fields_[4] += fields_[k];
        d.range = fields_[4];
      }
      sink_.var(d);
      return;
    }
    default: return;
  }
}

template <class Sink>
void VcdParser<Sink>::report(VcdStatus s, std::string_view t, std::uint64_t offset) {
  if (s == VcdStatus::UnknownCode) diag_.report(offset, "expected an identifier code declared by $var", t);
  else if (s == VcdStatus::BadValue) diag_.report(offset, "expected value characters of the variable's kind", t);
  else if (s == VcdStatus::Repaired) diag_.report(offset, "expected binary digits after 'b' (read without its '0b')", t);
}

template <class Sink>
void VcdParser<Sink>::end(std::uint64_t offset) {
  if (pending_) {
    pending_ = 0;
    diag_.report(pending_offset_, "expected an identifier code after the value (input cut off?)",
                 std::string_view(pending_value_.data() - 1, pending_value_.size() + 1));
  }
  if (command_ != Command::None && command_ != Command::Skip) {
    diag_.report(offset, "expected $end to close " + command_name_ + " (input cut off?)", command_name_);
    finish_command(offset);
  } else if (command_ == Command::Skip) {
    diag_.report(offset, "expected $end to close " + command_name_ + " (input cut off?)", command_name_);
    command_ = Command::None;
  }
}

template <class Sink>
void VcdParser<Sink>::detach() {
  if (!pending_ || pending_value_.data() == pending_owned_.data() + 1) return;
  // Keep the character before the value (the 'b', 'r' or 's') for messages.
  pending_owned_.assign(pending_value_.data() - 1, pending_value_.size() + 1);
  pending_value_ = std::string_view(pending_owned_).substr(1);
}

}  // namespace quarn
