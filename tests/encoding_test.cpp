// UTF-8 to GBK as a register is read: in pieces of any size, into room of
// any size, the same bytes as in one go.
#include "records/encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct conversion {
    const char* name;
    std::string utf8;
    std::string gbk;
    bool strict;
};

void PrintTo(const conversion& c, std::ostream* os) { *os << c.name; }

// Converts text fed piece bytes at a time into room bytes at a time, as the
// reader does, carrying a character cut by a piece to the next.
std::string convert(const std::string& text, std::size_t piece, std::size_t room, bool& strict)
{
    std::string out, held;
    // Guard bytes past the room, which no conversion may touch.
    std::vector<char> buf(room + 4, '#');
    strict = true;
    for (std::size_t at = 0; at < text.size() || !held.empty();) {
        std::size_t take = std::min(piece, text.size() - at);
        held += text.substr(at, take);
        at += take;
        const char* p = held.data();
        std::size_t left = held.size();
        std::size_t got = utf8_to_gbk(p, left, buf.data(), room, strict);
        EXPECT_LE(got, room);
        EXPECT_EQ(std::string(buf.data() + room, 4), "####") << "written past the room";
        out.append(buf.data(), std::min(got, room));
        held.erase(0, held.size() - left);
        if (got == 0 && take == 0)
            break; // a character cut off at the very end
    }
    return out;
}

class utf8_in : public ::testing::TestWithParam<conversion> {};

TEST_P(utf8_in, gives_the_same_gbk_in_pieces_of_any_size)
{
    const conversion& c = GetParam();
    for (std::size_t piece : {1U, 2U, 3U, 7U, 8U, 9U, 64U})
        for (std::size_t room : {4U, 5U, 8U, 9U, 17U, 256U}) {
            bool strict = false;
            EXPECT_EQ(convert(c.utf8, piece, room, strict), c.gbk) << piece << " " << room;
            EXPECT_EQ(strict, c.strict) << piece << " " << room;
        }
}

const std::string zhong = "\xD6\xD0"; // 中 in GBK
const std::string ff(1, no_gbk);

INSTANTIATE_TEST_SUITE_P(
    texts, utf8_in,
    ::testing::Values(
        conversion{"ascii_longer_than_a_word", "2023000001 s1@school.edu.cn 2004.05\n",
                   "2023000001 s1@school.edu.cn 2004.05\n", true},
        conversion{"nul_and_control_bytes_in_ascii", std::string("a\0b\tc\x7f" "d", 7),
                   std::string("a\0b\tc\x7f" "d", 7), true},
        conversion{"chinese_between_ascii_runs", "12345678\xE4\xB8\xAD" "abcdefghi\xE4\xB8\xAD",
                   "12345678" + zhong + "abcdefghi" + zhong, true},
        conversion{"two_byte_character", "\xC2\xA4x", "\xA1\xE8x", true},
        conversion{"beyond_gbk_stands_in", "a\xF0\x9F\x98\x80" "b", "a" + ff + "b", true},
        // A pair that stands for a character past the BMP, and one in plane
        // 4 whose low bits are that character's: it has no pair.
        conversion{"beyond_the_bmp_in_a_pair", "\xF0\xA0\x82\x87", "\xFE\x51", true},
        conversion{"beyond_the_bmp_without_one", "\xF1\x80\x82\x87", ff, true},
        conversion{"stray_byte_after_ascii", "abcdefgh\x80" "ijklmnop", "abcdefgh" + ff + "ijklmnop", false},
        conversion{"overlong_form", "\xC0\xAF" "abc", ff + ff + "abc", false},
        conversion{"cut_off_at_the_end", "abcdefgh\xE4\xB8", "abcdefgh", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
