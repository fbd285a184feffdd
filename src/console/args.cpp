#include "console/args.h"

#include "console/console.h"

#include <string_view>

#ifndef STUDENT_VERSION
#error "the build passes the project's version as STUDENT_VERSION"
#endif

namespace {

const char* const usage = "用法：student [-h | --help | --version]";

// One screen at most, so it is read whole before it scrolls away.
const char* const help[] = {
    "学生信息登记：在控制台用编号菜单登记、查询、修改、删除和列出学生。",
    "",
    "数据放在启动时所在文件夹的 student.txt 中（GBK 编码，每行一名学生，",
    "八项用空格分开），最多 1000 名。只有菜单 1 读它，只有菜单 7 写它。",
    "",
    "菜单：",
    "  1 刷新学生信息      从 student.txt 读入，取代内存中的全部记录",
    "  2 查询学生信息      按学号或姓名",
    "  3 修改学生信息      改一名学生的一项",
    "  4 增加学生信息      录入后按学号排序",
    "  5 按学号删除信息",
    "  6 显示当前信息      列出内存中的全部记录",
    "  7 保存当前学生信息  写回 student.txt",
    "  8 退出系统          不保存",
    "",
    "第一次运行请先选 1；增加、修改或删除后选 7 保存。",
    "",
    "选项：",
    "  -h, --help   显示本说明",
    "  --version    显示名称和版本",
};

} // namespace

int args(int argc, char** argv)
{
    if (argc <= 1)
        return -1;
    std::string_view a = argv[1];
    if (argc == 2 && (a == "-h" || a == "--help")) {
        line(usage);
        for (const char* l : help)
            line(l);
        flush();
        return 0;
    }
    if (argc == 2 && a == "--version") {
        line("student " STUDENT_VERSION);
        flush();
        return 0;
    }
    // A second argument is refused even after a good first one: an
    // operator who typed two meant something this program does not do.
    bool first_ok = a == "-h" || a == "--help" || a == "--version";
    notice(format("student: 无法识别的参数 \"%s\"", first_ok ? argv[2] : argv[1]));
    notice(usage);
    return 2;
}
