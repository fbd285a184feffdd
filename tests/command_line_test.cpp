// The built program's command line: help and version on standard output
// without starting the menu, anything else refused on standard error, both
// in the locale's encoding.
#include "console/screens.h"
#include "support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>

namespace {

struct row {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out_has;
    std::vector<std::string> err_has;
    const char* locale = "C"; // LC_ALL for the program; "C" means GBK
    bool posix_only = false;  // wine reads the arguments in the locale's encoding
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
    {"f_with_an_empty_name", {"-f", ""}, 2, {}, {"参数 \"-f\" 后缺少文件名"}},
    {"export_to_an_empty_name", {"--export", ""}, 2, {}, {"参数 \"--export\" 后缺少文件名"}},
    {"export_and_import", {"--export", "a.csv", "--import", "b.csv"}, 2, {}, {"\"--import\""}},
    // After "--" every argument is a name: two are one too many.
    {"two_names_after_dash_dash", {"--", "-a.txt", "--help"}, 2, {}, {"\"--help\"", "用法：student"}},
    {"empty", {""}, 2, {}, {"\"\""}},
    {"more_after_help", {"--help", "more"}, 2, {}, {"\"more\""}},
    {"help_in_a_utf8_locale", {"--help"}, 0, {"用法：student", "8 退出系统", "Home"}, {}, "C.UTF-8"},
    {"help_in_a_gbk_locale", {"--help"}, 0, {"用法：student", "8 退出系统"}, {}, "zh_CN.GBK"},
    // The name as typed, in UTF-8 (学), among the converted words.
    {"utf8_name_in_a_utf8_locale", {"a.txt", "\xe5\xad\xa6.txt"}, 2, {}, {"无法识别的参数 \"学.txt\"", "用法"}, "C.UTF-8"},
    // The same name where the words are GBK: in GBK with them.
    {"utf8_name_with_no_locale", {"a.txt", "\xe5\xad\xa6.txt"}, 2, {}, {"无法识别的参数 \"学.txt\"", "用法"}, "C", true},
};

// GBK for what the program wrote in UTF-8; "!" when it is not valid UTF-8
// throughout.
std::string gbk_of_utf8(const std::string& utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    char* o = out.data();
    std::size_t left = utf8.size(), room = out.size();
    bool whole = iconv(cd, &in, &left, &o, &room) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return whole ? out.substr(0, out.size() - room) : "!";
}

class command_line : public scratch, public ::testing::WithParamInterface<row> {};

TEST_P(command_line, answers_without_starting_the_menu)
{
    const row& r = GetParam();
    if (r.posix_only && under_runner())
        GTEST_SKIP() << "wine reads a name in UTF-8 only in a UTF-8 locale";
    if (std::string(r.locale) == "zh_CN.GBK" && locale_for_program::gbk_locales().empty())
        GTEST_SKIP() << "localedef cannot make a GBK locale here";
    outcome o;
    {
        locale_for_program l(r.locale);
        // Were the menu to start, it would show itself and list the table.
        o = run_program(dir, "6\n8\n", r.args);
    }
    // The Windows program writes GBK whatever the locale: a console shows
    // it right on any code page.
    if (std::string(r.locale) == "C.UTF-8" && !under_runner()) {
        o.out = gbk_of_utf8(o.out);
        o.err = gbk_of_utf8(o.err);
    }
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

// A name in a command the operator may copy (where the sample is): quoted
// only where a shell would split, expand or take it for an option.
TEST(for_shell, quotes_what_a_shell_would_not_take_as_it_is)
{
    const std::pair<std::string, std::string> rows[] = {
        {"/usr/share/doc/student/student.txt", "/usr/share/doc/student/student.txt"},
        {"/tmp/pre fix/share/student.txt", "'/tmp/pre fix/share/student.txt'"},
        {"it's.txt", "'it'\\''s.txt'"},
        {"$HOME.txt", "'$HOME.txt'"},
        {"-f.txt", "'./-f.txt'"},
        {"\xe4\xb8\x80\xe5\xad\xa6.txt", "\xe4\xb8\x80\xe5\xad\xa6.txt"}, // 一学: bytes of 0x80 and up
        {"", "''"},
    };
    for (const auto& [name, quoted] : rows)
        EXPECT_EQ(for_shell(name), quoted) << name;
}

} // namespace
