#include "support.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<std::string> ids()
{
    std::vector<std::string> v;
    for (int k = 0; k < n; ++k)
        v.push_back(stu[k].id);
    return v;
}

struct order_case {
    std::vector<std::string> in;
    std::vector<std::string> out;
};

void PrintTo(const order_case& c, std::ostream* os) { *os << c.in.size() << " ids"; }

class sort_order : public ::testing::TestWithParam<order_case> {};

TEST_P(sort_order, ids_come_out_in_byte_order)
{
    std::vector<student> rs;
    for (const std::string& id : GetParam().in)
        rs.push_back(rec(id, "n" + id));
    set_table(rs);
    sort();
    EXPECT_EQ(ids(), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    cases, sort_order,
    ::testing::Values(
        order_case{{}, {}}, order_case{{"7"}, {"7"}},
        order_case{{"20", "100"}, {"100", "20"}},  // text, not numbers
        order_case{{"9", "10"}, {"10", "9"}},
        order_case{{"abc", "ab", "a"}, {"a", "ab", "abc"}}, // a proper prefix first
        order_case{{"\xB0\xA1", "z", "\x80"}, {"z", "\x80", "\xB0\xA1"}}, // unsigned bytes
        order_case{{"5", "4", "3", "2", "1"}, {"1", "2", "3", "4", "5"}}));

TEST(sort, equal_ids_keep_their_order)
{
    set_table({rec("2", "first"), rec("1", "x"), rec("2", "second"), rec("0", "y"),
                rec("2", "third")});
    sort();
    ASSERT_EQ(ids(), (std::vector<std::string>{"0", "1", "2", "2", "2"}));
    EXPECT_STREQ(stu[2].name, "first");
    EXPECT_STREQ(stu[3].name, "second");
    EXPECT_STREQ(stu[4].name, "third");
}

TEST(sort, every_field_moves_with_its_record)
{
    student a = rec("300", "甲", -5);
    student b = rec("1", "乙", 99);
    student c = rec("20", "丙", 0);
    set_table({b, c, a});
    std::string expected = dump();
    set_table({a, b, c});
    sort();
    EXPECT_EQ(dump(), expected);
}

TEST(sort, slots_beyond_n_are_left_alone)
{
    set_table({rec("9", "a"), rec("1", "b"), rec("0", "outside")});
    n = 2;
    sort();
    EXPECT_STREQ(stu[0].id, "1");
    EXPECT_STREQ(stu[2].name, "outside");
}

} // namespace

namespace {

TEST(sort, a_full_table_with_many_equal_ids_matches_a_stable_model)
{
    std::vector<student> rs;
    unsigned seed = 12345;
    for (int k = 0; k < STUDENT_CAPACITY; ++k) {
        seed = seed * 1103515245 + 12345;
        rs.push_back(rec(std::to_string(seed % 97), "n" + std::to_string(k)));
    }
    std::vector<student> model = rs;
    std::stable_sort(model.begin(), model.end(),
                     [](const student& a, const student& b) { return std::string(a.id) < b.id; });
    set_table(model);
    std::string expected = dump();
    set_table(rs);
    sort();
    EXPECT_EQ(dump(), expected);
}

TEST(put, a_value_too_long_for_its_field_is_cut_and_the_next_field_kept)
{
    student r{};
    put(r.birth, "2001.01");
    put(r.sex, "abcdef");
    EXPECT_STREQ(r.sex, "ab");
    EXPECT_STREQ(r.birth, "2001.01");
}

} // namespace
