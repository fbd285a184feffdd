#include "console/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct key_case {
    std::string bytes; // what one read at a pause gave
    bool gb;
    std::size_t key;   // how many of them are the key
};

void PrintTo(const key_case& c, std::ostream* os)
{
    for (unsigned char ch : c.bytes)
        *os << std::hex << int(ch) << ' ';
}

class key_length_of : public ::testing::TestWithParam<key_case> {};

TEST_P(key_length_of, takes_one_whole_key_and_leaves_the_rest)
{
    const key_case& c = GetParam();
    EXPECT_EQ(key_length(c.bytes.data(), c.bytes.size(), c.gb), c.key);
}

INSTANTIATE_TEST_SUITE_P(
    keys, key_length_of,
    ::testing::Values(key_case{"x", false, 1}, key_case{"x[A", false, 1},
                      key_case{"\x1b[D4", false, 3}, key_case{"\x1b[1;5C4", false, 6},
                      key_case{"\x1b[@x", false, 3}, key_case{"\x1b[", false, 2},
                      key_case{"\x1bOD4", false, 3}, key_case{"\x1bO", false, 2},
                      key_case{"\x1b", false, 1}, key_case{"\xc3\xa9x", false, 2},
                      key_case{"\xe4\xb8\xad" "x", false, 3}, key_case{"\xf0\x9f\x98\x80x", false, 4},
                      key_case{"\xe4\xb8", false, 2}, key_case{"\xb0\xa1x", true, 2},
                      key_case{"\x81\x40x", true, 2}, key_case{"\x80x", true, 1},
                      key_case{"x\xb0", true, 1}, key_case{"\x1b[D", true, 3}));

struct c1_case {
    std::string text;
    std::string shown;
};

void PrintTo(const c1_case& c, std::ostream* os) { PrintTo(key_case{c.text, false, 0}, os); }

class c1_in : public ::testing::TestWithParam<c1_case> {};

TEST_P(c1_in, shows_each_c1_control_as_a_question_mark)
{
    // A byte after the text that would make a C1 control with its last.
    std::string buf = GetParam().text + "\x85";
    std::size_t len = no_c1(buf.data(), GetParam().text.size());
    EXPECT_EQ(buf.substr(0, len), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    texts, c1_in,
    ::testing::Values(c1_case{"a\xc2\x80" "b", "a?b"}, c1_case{"\xc2\x9f", "?"},
                      c1_case{"\xc2\x9d" "0;t\x07", "?0;t\x07"}, c1_case{"\xc2\x7f", "\xc2\x7f"},
                      c1_case{"\xc2\xa0", "\xc2\xa0"}, c1_case{"\xc3\x80", "\xc3\x80"},
                      c1_case{"ab\xc2", "ab\xc2"}, c1_case{"", ""}));

} // namespace
