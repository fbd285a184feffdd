// The built program end to end: piped input, exact output bytes.
#include "support.h"

namespace {

class program : public scratch {};

const std::string listing_head = "所有学生的信息为:\n"
                                 "学生学号  学生姓名  年龄  性别  出生年月  地址    电话    E-mail\n" +
                                 std::string(68, '-') + "\n";
const std::string out_of_range = "请在1-8之间选择\n";

TEST_F(program, lists_an_empty_table_then_leaves)
{
    outcome o = run_program(dir, "6\n8\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, menu_text() + listing_head + pause_text + menu_text());
}

TEST_F(program, eight_alone_leaves_at_once_without_a_pause)
{
    outcome o = run_program(dir, "8\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, menu_text());
}

TEST_F(program, choices_out_of_range_and_non_numbers_are_refused)
{
    outcome o = run_program(dir, "0\n9\n-1\nabc\n6abc 99999999999\n8\n");
    EXPECT_EQ(o.status, 0);
    std::string once = menu_text() + out_of_range + pause_text;
    EXPECT_EQ(o.out, once + once + once + once + once + once + menu_text());
}

TEST_F(program, input_that_ends_without_eight_ends_the_program)
{
    for (const char* input : {"", "6\n", "4\n2\n1\n", "2\n1\n", "3\n", "5\n"}) {
        outcome o = run_program(dir, input);
        EXPECT_EQ(o.status, 0) << input; // not killed by the hang guard
    }
}

TEST_F(program, a_missing_file_is_reported_and_the_session_goes_on)
{
    outcome o = run_program(dir, "1\n6\n8\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, menu_text() + "未找到该文件 请先创立该文件并将学生信息保存\n" + pause_text +
                         menu_text() + listing_head + pause_text + menu_text());
}

TEST_F(program, added_students_survive_a_save_and_a_new_session)
{
    std::string student1 = "2 甲 19 男 2005.01 南京 025-1 a@b.cn\n";
    std::string student2 = "10 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n";
    outcome o = run_program(dir, "4\n2\n" + student1 + student2 + "7\n8\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(read_file(dir + "/student.txt"), saved("10 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n"
                                                     "2 甲 19 男 2005.01 南京 025-1 a@b.cn\n"));
    o = run_program(dir, "1\n6\n8\n");
    EXPECT_EQ(o.out, menu_text() + "刷新完成\n" + pause_text + menu_text() + listing_head +
                         "    10      乙    20    女   2004.12     苏州     0512-2         c@d.cn\n"
                         "     2      甲    19    男   2005.01     南京      025-1         a@b.cn\n" +
                         pause_text + menu_text());

    // A second save replaces the file that is there: the one it loaded, so
    // quietly.
    o = run_program(dir, "1\n4\n1\n1 丙 21 女 2003.03 无锡 0510-3 e@f.cn\n7\n8\n");
    EXPECT_EQ(o.err, "");
    std::string three = saved("1 丙 21 女 2003.03 无锡 0510-3 e@f.cn\n"
                              "10 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n"
                              "2 甲 19 男 2005.01 南京 025-1 a@b.cn\n");
    EXPECT_EQ(read_file(dir + "/student.txt"), three);
    EXPECT_FALSE(exists(dir + "/student.txt.bak"));

    // A save without a load keeps the register it replaces, and says so
    // apart from the dialogue.
    o = run_program(dir, "4\n1\n" + student1 + "7\n8\n");
    EXPECT_EQ(o.err, "student.txt已被改动或未刷新,原文件已备份为student.txt.bak\n");
    EXPECT_EQ(o.out.find("保存失败"), std::string::npos);
    EXPECT_EQ(read_file(dir + "/student.txt"), saved(student1));
    EXPECT_EQ(read_file(dir + "/student.txt.bak"), three);
}

TEST_F(program, answers_typed_on_one_line_answer_prompts_in_turn)
{
    write_file(dir + "/student.txt", "1 张三 19 男 2004.05 北京 138 z@q.com\n");
    outcome o = run_program(dir, "1\n2 1 1 3\n8\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("请输入要查询的学生的学号:学生学号"), std::string::npos);
    EXPECT_NE(o.out.find("     1   张三    19"), std::string::npos);
}

TEST_F(program, unsaved_changes_are_kept_apart_when_the_session_ends)
{
    // Each session's work gets a name of its own; an earlier one is kept.
    std::string student = "2 甲 19 男 2005.01 南京 025-1 a@b.cn\n";
    const char* kept[] = {"student.unsaved.txt", "student.unsaved.2.txt"};
    const std::string ends[] = {"8\n", ""}; // menu 8, and the end of input
    for (int k = 0; k < 2; ++k) {
        outcome o = run_program(dir, "4\n1\n" + student + ends[k]);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, std::string("有未保存的修改,已另存为") + kept[k] + "\n");
        EXPECT_EQ(read_file(dir + "/" + kept[k]), saved(student));
    }
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), saved(student));
    EXPECT_FALSE(exists(dir + "/student.txt")) << "saved without being asked";
}

} // namespace
