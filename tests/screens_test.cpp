#include "console/console.h"
#include "console/screens.h"
#include "support.h"

#include <cstring>
#include <functional>
#include <vector>

namespace {

class screens : public scratch {};

// The eight answers of one student in the add dialogue.
std::string answers(const std::string& id, const std::string& name = "王五",
                    const std::string& age = "20")
{
    return id + "\n" + name + "\n" + age + "\n男\n2001.09\n广州市天河区\n020-8888\nww@163.com\n";
}

// The eight prompts of student p, without the duplicate-number retries.
std::string prompts(int p)
{
    std::string s;
    for (const char* q : {"学号:", "姓名:", "年龄:", "性别:", "出生年月:(格式:年.月)", "地址:",
                          "电话:", "E-mail:"})
        s += "请输入第 " + std::to_string(p) + " 个学生的" + q + "\n";
    return s;
}

const std::string count_q = "请输入待增加的学生数:\n";
const std::string done = "录入完毕！\n\n";

std::vector<student> five()
{
    return {rec("50", "e"), rec("10", "a"), rec("40", "d"), rec("20", "b"), rec("30", "c")};
}

std::vector<std::string> ids()
{
    std::vector<std::string> v;
    for (int k = 0; k < n; ++k)
        v.push_back(stu[k].id);
    return v;
}

TEST_F(screens, add_to_an_empty_table_numbers_from_one_and_sorts)
{
    std::string out = drive(add, "2\n" + answers("300", "甲") + answers("1000", "乙", "-7"));
    EXPECT_EQ(out, count_q + prompts(1) + prompts(2) + done);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(ids(), (std::vector<std::string>{"1000", "300"}));
    EXPECT_STREQ(stu[0].name, "乙");
    EXPECT_EQ(stu[0].age, -7);
    EXPECT_STREQ(stu[0].address, "广州市天河区");
    EXPECT_STREQ(stu[0].email, "ww@163.com");
}

TEST_F(screens, add_after_five_records_numbers_from_six)
{
    set_table(five());
    std::string out = drive(add, "1\n" + answers("05"));
    EXPECT_EQ(out, count_q + prompts(6) + done);
    EXPECT_EQ(ids(), (std::vector<std::string>{"05", "10", "20", "30", "40", "50"}));
}

TEST_F(screens, a_taken_number_is_asked_again_for_the_same_student)
{
    set_table({rec("7", "old")});
    // 7 is in use; 8 is taken by the first new student of this dialogue.
    std::string out = drive(add, "2\n" + answers("8") + "7\n8\n" + answers("9"));
    std::string dup = "已有该学号,请检查后重新录入!\n";
    std::string q = "请输入第 3 个学生的学号:\n";
    EXPECT_EQ(out, count_q + prompts(2) + q + dup + q + dup + prompts(3) + done);
    EXPECT_EQ(ids(), (std::vector<std::string>{"7", "8", "9"}));
}

TEST_F(screens, a_count_of_zero_or_less_adds_nobody_but_still_sorts)
{
    for (const char* count : {"0\n", "-3\n"}) {
        set_table(five());
        EXPECT_EQ(drive(add, count), count_q + done);
        EXPECT_EQ(ids(), (std::vector<std::string>{"10", "20", "30", "40", "50"}));
    }
}

TEST_F(screens, the_count_may_not_pass_the_free_slots)
{
    std::vector<student> rs;
    for (int k = 0; k < STUDENT_CAPACITY - 1; ++k)
        rs.push_back(rec(std::to_string(k), "s"));
    set_table(rs);
    std::string out = drive(add, "2\n1\n" + answers("x"));
    EXPECT_EQ(out, count_q + "最多还能增加1个学生,请重新输入\n" + count_q + prompts(1000) + done);
    EXPECT_EQ(n, STUDENT_CAPACITY);

    out = drive(add, "1\n0\n");
    EXPECT_EQ(out, count_q + "最多还能增加0个学生,请重新输入\n" + count_q + done);
    EXPECT_EQ(n, STUDENT_CAPACITY);
}

TEST_F(screens, answers_that_are_not_numbers_are_asked_again)
{
    std::string not_int = "输入的不是整数,请重新输入\n";
    // The longest token read whole is 1024 bytes; a longer one is cut, so
    // it is not a number even when its leading zeros are all that is cut.
    std::string out = drive(add, "two\n1\n1\nname\n6abc\n99999999999\n" + std::string(1024, '0') +
                                     "5\n" + std::string(1022, '0') + "21\n男\nb\na\np\ne\n");
    std::string age_q = "请输入第 1 个学生的年龄:\n";
    std::string p = prompts(1);
    std::string head = p.substr(0, p.find(age_q) + age_q.size());
    EXPECT_EQ(out, count_q + not_int + count_q + head + not_int + age_q + not_int + age_q + not_int +
                       age_q + p.substr(head.size()) + done);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(stu[0].age, 21);
    EXPECT_STREQ(stu[0].sex, "男"); // nothing shifted into later answers
}

struct too_long {
    int field; // position of the answer among the eight
    std::size_t cap;
};

void PrintTo(const too_long& c, std::ostream* os) { *os << "answer " << c.field << " cap " << c.cap; }

class add_too_long : public screens, public ::testing::WithParamInterface<too_long> {};

TEST_P(add_too_long, is_refused_and_the_same_question_asked_again)
{
    std::vector<std::string> a = {"1", "n", "20", "男", "b", "a", "p", "e"};
    std::vector<std::string> in = a;
    std::size_t k = static_cast<std::size_t>(GetParam().field);
    std::string fitting(GetParam().cap, 'x');
    in[k] = std::string(GetParam().cap + 1, 'x') + "\n" + fitting;
    std::string text = "1\n";
    for (const std::string& s : in)
        text += s + "\n";
    std::string out = drive(add, text);
    EXPECT_NE(out.find("输入过长,最多" + std::to_string(GetParam().cap) + "个字节,请重新输入\n"),
              std::string::npos);
    ASSERT_EQ(n, 1);
    const char* fields[] = {stu[0].id,    stu[0].name,    nullptr,      stu[0].sex,
                            stu[0].birth, stu[0].address, stu[0].phone, stu[0].email};
    EXPECT_EQ(fields[k], fitting);
    EXPECT_STREQ(stu[0].email, k == 7 ? fitting.c_str() : "e");
}

INSTANTIATE_TEST_SUITE_P(fields, add_too_long,
                         ::testing::Values(too_long{0, 20}, too_long{1, 22}, too_long{3, 2},
                                           too_long{4, 20}, too_long{5, 29}, too_long{6, 20},
                                           too_long{7, 32}));

const std::string seek_menu = "**************\n1:按学号查询\n2:按姓名查询\n3:退出本次查询\n"
                              "**************\n";
const std::string choice_q = "请输入编号:";
const std::string seek_heading =
    "学生学号     学生姓名  年龄  性别  出生年月     地址          电话       E-mail\n" +
    std::string(79, '-') + "\n";

TEST_F(screens, query_by_number_and_by_name_prints_each_match_under_a_heading)
{
    student a = rec("11", "张三", 19);
    student b = rec("22", "李四", 7);
    student c = rec("33", "张三", 0);
    set_table({a, b, c});
    std::string out = drive(seek, "1\n22\n2\n张三\n3\n");
    std::string row_b = "    22   李四     7    男   2001.22  addr-22      13922        22@x.cn\n";
    std::string row_a = "    11   张三    19    男   2001.11  addr-11      13911        11@x.cn\n";
    std::string row_c = "    33   张三     0    男   2001.33  addr-33      13933        33@x.cn\n";
    EXPECT_EQ(out, seek_menu + choice_q + "请输入要查询的学生的学号:" + seek_heading + row_b +
                       choice_q + "请输入要查询学生的姓名:" + seek_heading + row_a + seek_heading +
                       row_c + choice_q);
}

TEST_F(screens, query_misses_and_bad_choices_keep_the_screen_open)
{
    set_table({rec("11", "张三")});
    std::string out =
        drive(seek, "1\n1\n2\n张\n1\n" + std::string(300, '1') + "\n0\nabc\n4\n3\n");
    EXPECT_EQ(out, seek_menu + choice_q + "请输入要查询的学生的学号:学号不存在\n" + choice_q +
                       "请输入要查询学生的姓名:姓名不存在\n" + choice_q +
                       "请输入要查询的学生的学号:学号不存在\n" + choice_q + "只能在1-3中选择\n" +
                       choice_q + "只能在1-3中选择\n" + choice_q + "只能在1-3中选择\n" + choice_q);
}

TEST_F(screens, query_matches_nothing_outside_the_records_in_use)
{
    set_table({rec("11", "a"), rec("22", "b")});
    n = 1;
    EXPECT_NE(drive(seek, "1\n22\n3\n").find("学号不存在"), std::string::npos);
}

struct delete_case {
    std::vector<std::string> before;
    std::string key;
    std::vector<std::string> after;
};

void PrintTo(const delete_case& c, std::ostream* os) { *os << "key " << c.key.substr(0, 8); }

class deleting : public screens, public ::testing::WithParamInterface<delete_case> {};

TEST_P(deleting, removes_one_record_and_keeps_the_order)
{
    std::vector<student> rs;
    for (std::size_t k = 0; k < GetParam().before.size(); ++k)
        rs.push_back(rec(GetParam().before[k], "n" + std::to_string(k)));
    set_table(rs);
    std::string out = drive(dele, GetParam().key + "\n");
    bool gone = GetParam().after.size() < GetParam().before.size();
    EXPECT_EQ(out, std::string("请输入要删除学生的学号:\n") +
                       (gone ? "删除成功,显示结果请选择菜单6\n" : "该学号不存在！\n"));
    EXPECT_EQ(ids(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    cases, deleting,
    ::testing::Values(delete_case{{"1", "2", "3"}, "1", {"2", "3"}},
                      delete_case{{"1", "2", "3"}, "3", {"1", "2"}},
                      delete_case{{"1", "2", "3"}, "2", {"1", "3"}},
                      delete_case{{"1", "2", "3"}, "4", {"1", "2", "3"}},
                      delete_case{{}, "1", {}},
                      delete_case{{"1", "2", "1", "3"}, "1", {"2", "1", "3"}},
                      delete_case{{"1"}, std::string(40, '1'), {"1"}}));

TEST_F(screens, duplicate_delete_removes_only_the_first_holder)
{
    set_table({rec("1", "first"), rec("2", "b"), rec("1", "second")});
    drive(dele, "1\n");
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(stu[1].name, "second");
}

TEST_F(screens, every_white_space_separates_answers)
{
    for (char sep : {'\v', '\f', '\t', '\r'}) {
        std::string s(1, sep);
        set_table({rec("1", "a"), rec("2", "b")});
        drive(dele, s + s + "2" + s);
        EXPECT_EQ(ids(), (std::vector<std::string>{"1"})) << int(sep);
        drive(add, "1" + s + "3" + s + s + "c" + s + "5 m b a p e\n");
        EXPECT_EQ(ids(), (std::vector<std::string>{"1", "3"})) << int(sep);
        EXPECT_STREQ(stu[1].name, "c") << int(sep);
    }
}

// A NUL is a control byte inside an answer, and a character GBK has no room
// for, or a byte that is no character, is never stored: each is refused
// where it stands, and the next answer is taken as meant.
struct refused_case {
    const char* name;
    std::function<void()> screen;
    std::string input;
    std::string said; // part of what the screen prints
    bool adds = false; // student 3, as meant
};

void PrintTo(const refused_case& c, std::ostream* os) { *os << c.name; }

class refused_answer : public screens, public ::testing::WithParamInterface<refused_case> {};

TEST_P(refused_answer, leaves_the_table_as_it_was_or_as_meant)
{
    set_table({rec("1", "a"), rec("2", "b")});
    std::string out = drive(GetParam().screen, GetParam().input);
    EXPECT_NE(out.find(GetParam().said), std::string::npos) << out;
    std::vector<std::string> want = {"1", "2"};
    if (GetParam().adds)
        want.push_back("3");
    EXPECT_EQ(ids(), want);
    if (n == 3) {
        EXPECT_STREQ(stu[2].name, "王五") << "the refused answer was stored";
    }
}

const std::string nul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    cases, refused_answer,
    ::testing::Values(
        refused_case{"a_nul_in_a_key_to_delete", dele, "2" + nul + "\n", "该学号不存在！"},
        refused_case{"a_nul_in_a_key_to_find", seek, "1\n1" + nul + "\n3\n", "学号不存在"},
        refused_case{"a_nul_in_a_query_choice", seek, "1" + nul + "\n3\n", "只能在1-3中选择"},
        refused_case{"a_nul_in_a_number_to_add", add, "1\n3" + nul + "\n" + answers("3"),
                     "输入含有控制字符,请重新输入", true},
        refused_case{"a_nul_in_a_count", add, "1" + nul + "\n0\n", "输入的不是整数,请重新输入"},
        refused_case{"a_four_byte_character", add, "1\n3\n\x81\x30\x81\x30\n" + answers("").substr(1),
                     "输入含有无法保存的字符,请重新输入", true},
        refused_case{"a_byte_that_is_no_character", add, "1\n3\n\xff\n" + answers("").substr(1),
                     "输入含有无法保存的字符,请重新输入", true},
        refused_case{"a_lead_byte_alone", add, "1\n3\n\xd5\n" + answers("").substr(1),
                     "输入含有无法保存的字符,请重新输入", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(screens, a_deleted_number_can_be_added_again)
{
    set_table({rec("1", "a"), rec("2", "b")});
    drive(dele, "2\n");
    std::string out = drive(add, "1\n" + answers("2"));
    EXPECT_EQ(out.find("已有该学号"), std::string::npos);
    EXPECT_EQ(ids(), (std::vector<std::string>{"1", "2"}));
}

const std::string modify_q = "请输入要修改学生的学号：";
const std::string field_menu = "------------------\n1.修改姓名\n2.修改年龄\n3.修改性别\n"
                               "4.修改出生年月\n5.修改地址\n6.修改电话号码\n7.修改E-mail地址\n"
                               "8.退出本菜单\n------------------\n请选择需要的功能编号：";

struct modify_case {
    std::string input; // after the student number
    std::string printed; // after the field menu
    int field;  // which field changes (0: none; 2: age)
    std::string value;
};

void PrintTo(const modify_case& c, std::ostream* os) { *os << "field " << c.field; }

class modifying : public screens, public ::testing::WithParamInterface<modify_case> {};

TEST_P(modifying, changes_one_field_of_the_record)
{
    set_table({rec("1", "a"), rec("2", "b"), rec("3", "c")});
    student expected = stu[1];
    char* fields[] = {nullptr,        expected.name,    nullptr,        expected.sex,
                      expected.birth, expected.address, expected.phone, expected.email};
    int f = GetParam().field;
    if (f == 2)
        expected.age = std::stoi(GetParam().value);
    else if (f > 0)
        std::strcpy(fields[f], GetParam().value.c_str());
    std::string out = drive(modify, "2\n" + GetParam().input);
    EXPECT_EQ(out, modify_q + field_menu + GetParam().printed);
    EXPECT_EQ(dirty, f != 0) << "only a stored value is an unsaved change";
    student got = stu[1];
    set_table({expected});
    std::string want = dump();
    set_table({got});
    EXPECT_EQ(dump(), want);
}

const std::string long_address = "江苏省南京市鼓楼区汉口路222号"; // 29 bytes: fits exactly

INSTANTIATE_TEST_SUITE_P(
    fields, modifying,
    ::testing::Values(
        modify_case{"1\n赵六\n", "请输入新的姓名:", 1, "赵六"},
        modify_case{"2\n19\n", "请输入新的年龄:", 2, "19"},
        modify_case{"2\nold\n-4\n", "请输入新的年龄:输入的不是整数,请重新输入\n请输入新的年龄:", 2,
                    "-4"},
        modify_case{"3\n女\n", "请输入新的性别:", 3, "女"},
        modify_case{"3\n女x\nF\n", "请输入新的性别:输入过长,最多2个字节,请重新输入\n请输入新的性别:",
                    3, "F"},
        modify_case{"4\n1999.12\n", "请输入新的出生年月:", 4, "1999.12"},
        // An arrow key typed in a value, and DEL: control bytes, asked again.
        modify_case{"1\n张\x1b[D三\n张\x7f三\n张三\n",
                    "请输入新的姓名:输入含有控制字符,请重新输入\n"
                    "请输入新的姓名:输入含有控制字符,请重新输入\n请输入新的姓名:", 1, "张三"},
        modify_case{"4\n" + std::string(100000, '9') + "\n2000.1\n",
                    "请输入新的出生年月:输入过长,最多20个字节,请重新输入\n请输入新的出生年月:", 4,
                    "2000.1"},
        modify_case{"5\n" + long_address + "\n", "请输入新的地址:", 5, long_address},
        modify_case{"6\n13912345678\n", "请输入新的电话号码:", 6, "13912345678"},
        modify_case{"7\n" + std::string(32, 'm') + "\n", "请输入新的邮件地址:", 7,
                    std::string(32, 'm')},
        modify_case{"8\n", "", 0, ""}, modify_case{"9\n", "请在1-8中进行选择\n", 0, ""},
        modify_case{"0\n", "请在1-8中进行选择\n", 0, ""},
        modify_case{"x\n", "请在1-8中进行选择\n", 0, ""}));

TEST_F(screens, modify_asks_again_for_a_missing_number_and_picks_the_last_holder)
{
    set_table({rec("1", "first"), rec("2", "b"), rec("1", "last")});
    stu[3] = rec("1", "stale"); // a deleted record's slot, outside the register
    std::string out = drive(modify, "9\n1\n1\nnew\n");
    EXPECT_EQ(out, modify_q + "该学号不存在\n\n" + modify_q + field_menu + "请输入新的姓名:");
    EXPECT_STREQ(stu[0].name, "first");
    EXPECT_STREQ(stu[2].name, "new");
    EXPECT_STREQ(stu[3].name, "stale");
}

TEST_F(screens, modify_with_an_empty_table_reads_the_number_then_goes_back_to_the_menu)
{
    EXPECT_EQ(drive([] { modify(); line(word()); }, "7\n9\n"),
              "请输入要修改学生的学号：该学号不存在\n\n9\n");
    EXPECT_FALSE(dirty);
}

TEST_F(screens, listing_prints_rows_right_aligned_and_wide_values_whole)
{
    set_table({rec("1", "张三", 0), rec("2", "x")});
    put(stu[1].address, std::string(29, 'a'));
    stu[2] = rec("3", "outside");
    std::string out = drive(show, "");
    EXPECT_EQ(out, "所有学生的信息为:\n"
                   "学生学号  学生姓名  年龄  性别  出生年月  地址    电话    E-mail\n" +
                       std::string(68, '-') + "\n" +
                       "     1    张三     0    男    2001.1   addr-1       1391         1@x.cn\n"
                       "     2       x    20    男    2001.2 " +
                       std::string(29, 'a') + "       1392         2@x.cn\n");
}

} // namespace
