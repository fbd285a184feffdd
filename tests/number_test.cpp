#include "records/number.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

struct number_case {
    std::string text;
    bool ok;
    std::int32_t value;
};

void PrintTo(const number_case& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class parse : public ::testing::TestWithParam<number_case> {};

TEST_P(parse, takes_only_whole_32_bit_integers)
{
    // More digits follow the token in memory, as they do in a read buffer.
    std::string buf = GetParam().text + "7";
    std::int32_t v = 12345;
    EXPECT_EQ(parse_int(std::string_view(buf).substr(0, buf.size() - 1), v), GetParam().ok)
        << GetParam().text;
    EXPECT_EQ(v, GetParam().ok ? GetParam().value : 12345) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    cases, parse,
    ::testing::Values(number_case{"0", true, 0}, number_case{"19", true, 19},
                      number_case{"-1", true, -1}, number_case{"+8", true, 8}, number_case{"+0", true, 0},
                      number_case{"+9", true, 9},
                      number_case{"007", true, 7}, number_case{"2147483647", true, INT_MAX},
                      number_case{"-2147483648", true, INT_MIN},
                      number_case{"2147483648", false, 0}, number_case{"-2147483649", false, 0},
                      number_case{"99999999999", false, 0}, number_case{"", false, 0},
                      number_case{"abc", false, 0}, number_case{"6abc", false, 0},
                      number_case{"1.5", false, 0}, number_case{"+", false, 0},
                      number_case{"-", false, 0}, number_case{"+-5", false, 0},
                      number_case{"--5", false, 0}, number_case{"0x10", false, 0},
                      number_case{" 5", false, 0}, number_case{"\xA3\xB1", false, 0}));

} // namespace
