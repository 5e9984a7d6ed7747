#include "record_fixture.h"

#include <cstring>
#include <sstream>

namespace quarn::testing {

std::string show(const SignalValue& v) {
  std::ostringstream out;
  switch (v.tag()) {
    case ValueTag::Bits: out << "Bits(" << v.as_bits() << ")"; break;
    case ValueTag::WideBits:
      out << "WideBits[";
      for (std::uint64_t w : v.as_wide_bits()) out << w << ",";
      out << "]";
      break;
    case ValueTag::Logic:
      out << "Logic[";
      for (std::uint8_t b : v.as_logic()) out << int{b} << ",";
      out << "]";
      break;
    case ValueTag::Real: {
      std::uint64_t u;
      const double d = v.as_real();
      std::memcpy(&u, &d, sizeof u);
      out << "Real(" << d << "/0x" << std::hex << u << ")";
      break;
    }
    case ValueTag::Text: out << "Text(" << v.as_text() << ")"; break;
    case ValueTag::Empty: out << "Empty"; break;
  }
  return out.str();
}

}  // namespace quarn::testing
