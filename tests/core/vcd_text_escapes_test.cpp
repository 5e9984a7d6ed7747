// String values as nvc writes them (shared corpus nvc/manytypes2.vcd and
// nvc/shortstring.vcd): C escapes, octal codes taken as Latin-1.

#include <gtest/gtest.h>

#include <string>

#include "trace/vcd_text_escapes.h"

namespace quarn {
namespace {

struct EscapeCase {
  const char* raw;
  const char* text;
};

class VcdTextEscapes : public testing::TestWithParam<EscapeCase> {};

TEST_P(VcdTextEscapes, UndoesWhatTheWriterEscaped) {
  std::string scratch;
  EXPECT_EQ(unescape_vcd_text(GetParam().raw, scratch), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VcdTextEscapes,
    testing::Values(EscapeCase{"plain", "plain"}, EscapeCase{"0\\040HR", "0 HR"}, EscapeCase{"\\'a\\'", "'a'"},
                    EscapeCase{"\\\"q\\\"", "\"q\""}, EscapeCase{"a\\\\b", "a\\b"}, EscapeCase{"tab\\tnl\\n", "tab\tnl\n"},
                    // Latin-1 codes above 127 become their UTF-8 form.
                    EscapeCase{"spa\\337", "spa\xC3\x9F"}, EscapeCase{"\\241\\377", "\xC2\xA1\xC3\xBF"},
                    // Not an escape: kept as written, never dropped.
                    EscapeCase{"end\\", "end\\"}, EscapeCase{"\\q\\9", "\\q\\9"}, EscapeCase{"\\40x", "\\40x"},
                    EscapeCase{"\\400", "\\400"}));

}  // namespace
}  // namespace quarn
