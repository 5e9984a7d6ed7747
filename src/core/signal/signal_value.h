#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quarn {

/// Variant numbers of `SignalValue`; fixed, other code relies on them.
enum class ValueTag : std::uint8_t { Bits = 0, WideBits = 1, Logic = 2, Real = 3, Text = 4, Empty = 5 };

/// Element values of a `Logic` vector.
inline constexpr std::uint8_t kLogic0 = 0;
inline constexpr std::uint8_t kLogic1 = 1;
inline constexpr std::uint8_t kLogicX = 2;
inline constexpr std::uint8_t kLogicZ = 3;
// VHDL's std_logic levels beyond 0/1/X/Z, as VCD writers for VHDL dump them.
inline constexpr std::uint8_t kLogicU = 4;         // uninitialised
inline constexpr std::uint8_t kLogicW = 5;         // weak unknown
inline constexpr std::uint8_t kLogicL = 6;         // weak 0
inline constexpr std::uint8_t kLogicH = 7;         // weak 1
inline constexpr std::uint8_t kLogicDontCare = 8;  // '-'

/// The element for a VCD value character ('0' '1' 'x' 'z' 'u' 'w' 'l' 'h' '-',
/// any case), or 0xFF for any other character.
inline std::uint8_t logic_from_char(char c) {
  switch (c) {
    case '0': return kLogic0;
    case '1': return kLogic1;
    case 'x': case 'X': return kLogicX;
    case 'z': case 'Z': return kLogicZ;
    case 'u': case 'U': return kLogicU;
    case 'w': case 'W': return kLogicW;
    case 'l': case 'L': return kLogicL;
    case 'h': case 'H': return kLogicH;
    case '-': return kLogicDontCare;
    default: return 0xFF;
  }
}

/// The lower-case VCD character of a Logic element ('?' past the table).
inline char logic_char(std::uint8_t e) { return e <= kLogicDontCare ? "01xzuwlh-"[e] : '?'; }

/// Elements with no known level: X, U, W and '-' (Z is its own case).
inline bool logic_unknown(std::uint8_t e) {
  return e == kLogicX || e == kLogicU || e == kLogicW || e == kLogicDontCare;
}
/// Elements that read as a level: 0, 1 and the weak L and H.
inline bool logic_level(std::uint8_t e) { return e == kLogic0 || e == kLogic1 || e == kLogicL || e == kLogicH; }
/// Elements that read as 1: 1 and H.
inline bool logic_high(std::uint8_t e) { return e == kLogic1 || e == kLogicH; }

/// The value of one signal at one index. Owns its payload; copies are deep.
///  Bits: two-state value of at most 64 bits.
///  WideBits: two-state value, word 0 = bits 0..63.
///  Logic: one byte per bit (0, 1, X=2, Z=3, U=4, W=5, L=6, H=7, '-'=8),
///    element 0 the MOST significant.
///  Real: a double. Text: UTF-8 string. Empty: no value.
class SignalValue {
 public:
  using Words = std::vector<std::uint64_t>;
  using LogicBits = std::vector<std::uint8_t>;

  SignalValue() : v_(std::monostate{}) {}

  static SignalValue bits(std::uint64_t n) { return SignalValue(Storage(std::in_place_index<0>, n)); }
  static SignalValue wide_bits(Words w) { return SignalValue(Storage(std::in_place_index<1>, std::move(w))); }
  static SignalValue logic(LogicBits l) { return SignalValue(Storage(std::in_place_index<2>, std::move(l))); }
  static SignalValue real(double d) { return SignalValue(Storage(std::in_place_index<3>, d)); }
  static SignalValue text(std::string s) { return SignalValue(Storage(std::in_place_index<4>, std::move(s))); }
  static SignalValue empty() { return SignalValue(); }

  ValueTag tag() const { return static_cast<ValueTag>(v_.index()); }
  bool is_empty() const { return tag() == ValueTag::Empty; }

  /// Payload accessors; each requires the matching tag.
  std::uint64_t as_bits() const { return std::get<0>(v_); }
  const Words& as_wide_bits() const { return std::get<1>(v_); }
  const LogicBits& as_logic() const { return std::get<2>(v_); }
  double as_real() const { return std::get<3>(v_); }
  const std::string& as_text() const { return std::get<4>(v_); }

  /// Structural equality: same variant and equal payload; Real compares as IEEE
  /// doubles (NaN != NaN, 0.0 == -0.0); different variants are never equal.
  friend bool operator==(const SignalValue& a, const SignalValue& b);

 private:
  using Storage = std::variant<std::uint64_t, Words, LogicBits, double, std::string, std::monostate>;
  explicit SignalValue(Storage v) : v_(std::move(v)) {}
  Storage v_;
};

/// Unsigned 64-bit reading: Bits as is; WideBits word 0; Logic when free of X/Z
/// (low 64 bits, empty = 0); Real truncated and saturated; Text as a decimal
/// number with optional '+'. Absent otherwise.
std::optional<std::uint64_t> to_u64(const SignalValue& v);

/// Truth of a value: nonzero Bits/WideBits, a Logic with some 1 element, a Real
/// unequal to 0.0 (NaN is true), a non-empty Text. Empty is false.
bool is_truthy(const SignalValue& v);

/// Decimal unsigned 64-bit number: one optional '+', then ASCII digits only.
/// Absent for anything else or on overflow.
std::optional<std::uint64_t> parse_decimal_u64(std::string_view s);

}  // namespace quarn
