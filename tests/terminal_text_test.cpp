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
                      key_case{"\x1b[@x", false, 3}, key_case{"\x1b[ @x", false, 4}, key_case{"\x1b[[A8", false, 4},
                      key_case{"\x1b[[E", false, 4}, key_case{"\x1bx8", false, 2},
                      key_case{"\x1b" "68", false, 2}, key_case{"\x1b\x1b[A8", false, 4},
                      key_case{"\x1b\xe4\xb8\xad" "8", false, 4}, key_case{"\x1b\xb0\xa1" "8", true, 3},
                      key_case{"\x1bOD4", false, 3}, key_case{"\xc3\xa9x", false, 2},
                      key_case{"\xe4\xb8\xad" "x", false, 3}, key_case{"\xf0\x9f\x98\x80x", false, 4},
                      key_case{"\xb0\xa1x", true, 2}, key_case{"\x81\x40x", true, 2},
                      key_case{"\x80x", true, 1}, key_case{"x\xb0", true, 1}, key_case{"\x1b[D", true, 3},
                      // Cut short: the rest of the key is still on its way.
                      key_case{"\x1b[", false, 0}, key_case{"\x1bO", false, 0},
                      key_case{"\x1b", false, 0}, key_case{"\x1b[[", false, 0},
                      key_case{"\x1b[1;5", false, 0}, key_case{"\xe4\xb8", false, 0},
                      key_case{"\xb0", true, 0}, key_case{"\x1b\xe4", false, 0}));

struct gbk_case {
    std::string stored;
    std::string shown; // at a terminal
    bool gbk = false;  // GBK characters and nothing else
};

void PrintTo(const gbk_case& c, std::ostream* os) { PrintTo(key_case{c.stored, false, 0}, os); }

class stored_value : public ::testing::TestWithParam<gbk_case> {};

TEST_P(stored_value, shows_only_gbk_characters)
{
    std::string shown = GetParam().stored;
    mask_shown(shown.data(), shown.size());
    EXPECT_EQ(shown, GetParam().shown);
    EXPECT_EQ(gbk_text(GetParam().stored.data(), GetParam().stored.size()), GetParam().gbk);
}

INSTANTIATE_TEST_SUITE_P(
    bytes, stored_value,
    ::testing::Values(gbk_case{"ab \xd5\xc5\xc8\xfd", "ab \xd5\xc5\xc8\xfd", true},
                      gbk_case{"\x81\x40\xfe\xfe", "\x81\x40\xfe\xfe", true},
                      gbk_case{"a\x9b" "31m", "a?31m"},           // a C1 introducer alone
                      gbk_case{"\xd5", "?"},                        // a lead byte at the end
                      gbk_case{"\xd5\x7f", "??"},                   // 0x7F is no trail, and a control
                      gbk_case{"\x80\xff", "??"},
                      gbk_case{"\x81\x30\x81\x30", "?0?0"},       // a four-byte GB18030 form
                      gbk_case{"a\x1b]0;t\x07", "a?]0;t?", true},
                      gbk_case{"line\n", "line\n", true}));

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

struct answer_case {
    std::string typed;
    std::size_t from, to; // where its first answer lies
};

void PrintTo(const answer_case& c, std::ostream* os) { PrintTo(key_case{c.typed, false, 0}, os); }

class answer_in : public ::testing::TestWithParam<answer_case> {};

TEST_P(answer_in, is_the_first_word_between_white_space)
{
    const answer_case& c = GetParam();
    answer_at a = first_answer(c.typed.data(), c.typed.size());
    EXPECT_EQ(a.from, c.from);
    EXPECT_EQ(a.to, c.to);
}

INSTANTIATE_TEST_SUITE_P(
    typed, answer_in,
    ::testing::Values(answer_case{"12 34\n", 0, 2}, answer_case{" \t\r\v\f\n8\n", 6, 7},
                      answer_case{"\xd5\xc5\xc8\xfd", 0, 4}, answer_case{std::string("a\0b c", 5), 0, 3},
                      answer_case{"  \n", 3, 3}, answer_case{"", 0, 0}));

} // namespace
