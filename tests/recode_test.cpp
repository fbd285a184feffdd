// Output converted for a UTF-8 terminal in the pieces that flushes cut it
// into: wherever a cut falls, the terminal gets the same text.
#include "console/terminal_output_posix.h"

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
    recoder r(true);
    std::string out;
    for (const std::string& piece : GetParam().pieces)
        shown_text(r, piece.data(), piece.size(), out);
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

// Both ways, whatever byte a text is cut after, the converter gives what
// it gives for the text whole; a byte that is no character stands in once.
TEST(recoder, gives_the_same_wherever_one_cut_falls)
{
    struct way {
        bool to_utf8;
        std::string from, to;
    } ways[] = {
        {true, "a" + zhong + grin + "\x80" "b", "a\xe4\xb8\xad\xf0\x9f\x98\x80?b"},
        {false, "a\xe4\xb8\xad\xf0\x9f\x98\x80\xc0" "b", "a" + zhong + grin + "?b"},
    };
    for (const way& w : ways)
        for (std::size_t cut = 0; cut <= w.from.size(); ++cut) {
            recoder r(w.to_utf8);
            std::string out;
            bool first = recode(r, w.from.data(), cut, out, '?');
            bool second = recode(r, w.from.data() + cut, w.from.size() - cut, out, '?');
            EXPECT_FALSE(first && second) << "the byte that is no character went unnoticed";
            EXPECT_TRUE(recode_end(r, out, '?'));
            EXPECT_EQ(out, w.to) << (w.to_utf8 ? "to UTF-8" : "to GBK") << ", cut after " << cut;
        }
}

// A character the text ends inside is no character: it goes out as its
// bytes, or stands in once for each.
TEST(recoder, ends_a_text_cut_inside_its_last_character)
{
    recoder r(false);
    std::string out;
    EXPECT_TRUE(recode(r, "a\xe4\xb8", 3, out));
    EXPECT_FALSE(recode_end(r, out, '?'));
    EXPECT_EQ(out, "a??");
}

} // namespace
