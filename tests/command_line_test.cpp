// The built program's command line: help and version on standard output
// without starting the menu, anything else refused on standard error.
#include "support.h"

#include <algorithm>

namespace {

struct row {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out_has;
    std::vector<std::string> err_has;
};

void PrintTo(const row& r, std::ostream* os)
{
    *os << r.name;
}

const row rows[] = {
    {"help", {"--help"}, 0, {"用法：student", "student.txt", "1 刷新学生信息", "8 退出系统"}, {}},
    // The menu's lines, whole, their help in one column.
    {"help_menu", {"--help"}, 0, {"\n  1 刷新学生信息      从数据文件读入，取代内存中的全部记录\n",
                                  "\n  2 查询学生信息      按学号或姓名\n",
                                  "\n  3 修改学生信息      改一名学生的一项\n",
                                  "\n  4 增加学生信息      录入后按学号排序\n",
                                  "\n  5 按学号删除信息\n",
                                  "\n  6 显示当前信息      列出内存中的全部记录\n",
                                  "\n  7 保存当前学生信息  写回数据文件\n",
                                  "\n  8 退出系统          未保存的修改另存为 student.unsaved.txt\n"}, {}},
    {"short_help", {"-h"}, 0, {"用法：student", "student.txt"}, {}},
    {"version", {"--version"}, 0, {"student " STUDENT_VERSION "\n"}, {}},
    {"unknown_option", {"--bogus"}, 2, {}, {"\"--bogus\"", "用法：student"}},
    {"two_files", {"a.txt", "b.txt"}, 2, {}, {"\"b.txt\"", "用法：student"}},
    {"a_file_and_another_with_f", {"a.txt", "-f", "b.txt"}, 2, {}, {"\"b.txt\""}},
    {"import_without_a_file", {"--import"}, 2, {}, {"\"--import\""}},
    {"f_without_a_file", {"a.txt", "-f"}, 2, {}, {"\"-f\""}},
    {"export_and_import", {"--export", "a.csv", "--import", "b.csv"}, 2, {}, {"\"--import\""}},
    {"empty", {""}, 2, {}, {"\"\""}},
    {"more_after_help", {"--help", "more"}, 2, {}, {"\"more\""}},
};

class command_line : public scratch, public ::testing::WithParamInterface<row> {};

TEST_P(command_line, answers_without_starting_the_menu)
{
    const row& r = GetParam();
    // Were the menu to start, it would show itself and list the table.
    outcome o = run_program(dir, "6\n8\n", r.args);
    EXPECT_EQ(o.status, r.status);
    for (const std::string& s : r.out_has)
        EXPECT_NE(o.out.find(s), std::string::npos) << s << " not in:\n" << o.out;
    for (const std::string& s : r.err_has)
        EXPECT_NE(o.err.find(s), std::string::npos) << s << " not in:\n" << o.err;
    EXPECT_EQ(o.out.find("请选择菜单编号"), std::string::npos);
    if (r.status == 0) {
        EXPECT_EQ(o.err, "");
        // One screen: 24 lines of at most 80 columns (a GBK character is
        // two bytes and two columns).
        EXPECT_LE(std::count(o.out.begin(), o.out.end(), '\n'), 24);
        for (std::size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos; at = end + 1)
            EXPECT_LE(end - at, 80u) << o.out.substr(at, end - at);
    } else {
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
    }
}

INSTANTIATE_TEST_SUITE_P(args, command_line, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
