#include "records/csv.h"
#include "records/fields.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A record whose every field holds a value of its own, so a store that
// reaches past its field shows in a neighbour.
student marked()
{
    student r{};
    for (const field_info& f : fields)
        if (f.number)
            number_of(r, f) = 77;
        else
            put_text(r, f, std::string(1, static_cast<char>('a' + (&f - fields))));
    return r;
}

struct text_field_case {
    int field;
    std::size_t cap; // what the data file and the screens promise
};

class text_field : public ::testing::TestWithParam<text_field_case> {};

TEST_P(text_field, holds_its_capacity_and_leaves_the_others_alone)
{
    const field_info& f = fields[GetParam().field];
    ASSERT_FALSE(f.number);
    EXPECT_EQ(f.cap, GetParam().cap);
    student r = marked();
    std::string full(GetParam().cap, 'x');
    EXPECT_EQ(store(r, f, full + "y"), value_fault::too_long);
    EXPECT_EQ(store(r, f, full), value_fault::none);
    for (int c = 0; c < field_count; ++c)
        EXPECT_EQ(value_text(r, fields[c]), c == GetParam().field ? full : value_text(marked(), fields[c]))
            << "field " << c;
}

INSTANTIATE_TEST_SUITE_P(rows, text_field,
                         ::testing::Values(text_field_case{0, 20}, text_field_case{1, 22}, text_field_case{3, 2},
                                           text_field_case{4, 20}, text_field_case{5, 29}, text_field_case{6, 20},
                                           text_field_case{7, 32}));

struct value_case {
    int field;
    std::string value;
    bool cut;
    value_fault fault;
};

void PrintTo(const value_case& c, std::ostream* os) { *os << c.field << " \"" << c.value << '"'; }

class value_check : public ::testing::TestWithParam<value_case> {};

TEST_P(value_check, refuses_what_no_field_may_hold_and_stores_the_rest)
{
    const value_case& c = GetParam();
    student r = marked();
    EXPECT_EQ(store(r, fields[c.field], c.value, c.cut), c.fault);
    std::string want = c.fault == value_fault::none ? c.value : value_text(marked(), fields[c.field]);
    EXPECT_EQ(value_text(r, fields[c.field]), want);
}

INSTANTIATE_TEST_SUITE_P(
    rows, value_check,
    ::testing::Values(value_case{1, "", false, value_fault::empty}, value_case{1, "a b", false, value_fault::blank},
                      value_case{1, "a\tb", false, value_fault::blank}, // a tab is both: white space first
                      value_case{1, "a\x01", false, value_fault::control},
                      value_case{1, "\x7f", false, value_fault::control},
                      value_case{1, "a\x80", false, value_fault::not_gbk},
                      value_case{1, "\xd5", false, value_fault::not_gbk}, // a lead byte alone
                      value_case{1, "abc", true, value_fault::too_long},
                      value_case{1, "\x1b[A", true, value_fault::control}, // cut or not, a control byte is one
                      value_case{3, "男", false, value_fault::none}, value_case{3, "男x", false, value_fault::too_long},
                      value_case{2, "-5", false, value_fault::none}, value_case{2, "2147483648", false, value_fault::not_number},
                      value_case{2, "12x", false, value_fault::not_number}, value_case{2, "12", true, value_fault::not_number}));

struct name_case {
    std::string cell;
    int field;
};

class column_name : public ::testing::TestWithParam<name_case> {};

TEST_P(column_name, finds_its_own_field_and_no_other)
{
    EXPECT_EQ(csv_column(GetParam().cell), GetParam().field) << GetParam().cell;
}

INSTANTIATE_TEST_SUITE_P(
    rows, column_name,
    ::testing::Values(name_case{"学号", 0}, name_case{"姓名", 1}, name_case{"年龄", 2}, name_case{"性别", 3},
                      name_case{"出生年月", 4}, name_case{"出生日期", 4}, name_case{"地址", 5},
                      name_case{"家庭住址", 5}, name_case{"住址", 5}, name_case{"电话", 6}, name_case{"电话号码", 6},
                      name_case{"手机", 6}, name_case{"手机号", 6}, name_case{"联系电话", 6}, name_case{"E-mail", 7},
                      name_case{"Email", 7}, name_case{"邮箱", 7}, name_case{"电子邮件", 7}, name_case{"电子邮箱", 7},
                      // Neither a name cut short or run together, nor nothing.
                      name_case{"手", -1}, name_case{"住址,手机", -1}, name_case{",", -1}, name_case{"", -1},
                      name_case{" ", -1}));

} // namespace
