// Output converted for a UTF-8 terminal in the pieces that flushes cut it
// into: wherever a cut falls, the terminal gets the same text.
#include "console/recode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct pieces_case {
    const char* name;
    std::vector<std::string> pieces; // GB18030, as flushed
    std::string shown;               // UTF-8, as the terminal gets it
};

void PrintTo(const pieces_case& c, std::ostream* os) { *os << c.name; }

class recoded : public ::testing::TestWithParam<pieces_case> {};

TEST_P(recoded, wherever_the_pieces_are_cut)
{
    recoder r{iconv_open("UTF-8", "GB18030")};
    ASSERT_NE(r.cd, reinterpret_cast<iconv_t>(-1));
    std::string out;
    for (const std::string& piece : GetParam().pieces)
        recode(r, piece.data(), piece.size(), out);
    iconv_close(r.cd);
    EXPECT_EQ(out, GetParam().shown);
}

const std::string zhong = "\xd6\xd0";          // 中
const std::string grin = "\x94\x39\xfc\x36";   // U+1F600, four bytes
const std::string nel = "\x81\x30\x81\x35";    // U+0085, a C1 control

INSTANTIATE_TEST_SUITE_P(
    cuts, recoded,
    ::testing::Values(
        pieces_case{"whole", {"a" + zhong + grin + "\n"}, "a\xe4\xb8\xad\xf0\x9f\x98\x80\n"},
        pieces_case{"two_bytes_cut", {"a\xd6", "\xd0" "b"}, "a\xe4\xb8\xad" "b"},
        pieces_case{"four_bytes_one_at_a_time",
                    {grin.substr(0, 1), grin.substr(1, 1), grin.substr(2, 1), grin.substr(3, 1)},
                    "\xf0\x9f\x98\x80"},
        pieces_case{"four_bytes_cut_then_more",
                    {"x" + grin.substr(0, 2), grin.substr(2, 1), grin.substr(3) + "y"},
                    "x\xf0\x9f\x98\x80y"},
        pieces_case{"two_bytes_cut_before_four", {"\xd6", "\xd0" + grin}, "\xe4\xb8\xad\xf0\x9f\x98\x80"},
        pieces_case{"no_character_passes_as_it_is", {"a\x80" "b\xff", "\x81 c"}, "a\x80" "b\xff\x81 c"},
        pieces_case{"c1_control_cut", {"a" + nel.substr(0, 3), nel.substr(3) + "b"}, "a?b"},
        pieces_case{"more_than_one_conversion_buffer_of_no_character",
                    {std::string(5000, '\x80')}, std::string(5000, '\x80')},
        pieces_case{"one_byte_after_a_full_conversion_buffer",
                    {std::string(4096, 'a') + "b"}, std::string(4096, 'a') + "b"},
        pieces_case{"more_than_one_conversion_buffer",
                    {std::string(1500, 'a'), [] {
                         std::string s;
                         for (int k = 0; k < 2000; ++k)
                             s += zhong;
                         return s;
                     }()},
                    [] {
                        std::string s(1500, 'a');
                        for (int k = 0; k < 2000; ++k)
                            s += "\xe4\xb8\xad";
                        return s;
                    }()}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
