#include "console/ask.h"
#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

#include <cstdint>
#include <string>

namespace {

// Asks student numbers until one in use comes; the last record holding it
// is the one changed.
student& ask_record()
{
    for (;;) {
        prompt("请输入要修改学生的学号：");
        std::string key = word();
        for (int k = n - 1; k >= 0; --k)
            if (key == stu[k].id)
                return stu[k];
        line("该学号不存在\n");
    }
}

// The fields after the student number, in field order: as the menu names
// them, and as their questions do.
const char* const labels[field_count - 1] = {"姓名", "年龄", "性别", "出生年月", "地址", "电话号码", "E-mail地址"};
const char* const asked[field_count - 1] = {"姓名", "年龄", "性别", "出生年月", "地址", "电话号码", "邮件地址"};

void field_menu()
{
    line("------------------");
    for (int c = 1; c < field_count; ++c)
        line(format("%d.修改%s", c, labels[c - 1]));
    line(format("%d.退出本菜单", field_count));
    line("------------------");
}

// The menu offers the fields after the number, then a way out.
void change(student& r, std::int32_t choice)
{
    if (choice == field_count)
        return;
    if (choice < 1 || choice > field_count) {
        line(format("请在1-%d中进行选择", field_count));
        return;
    }
    ask_value(format("请输入新的%s:", asked[choice - 1]), r, fields[choice]);
    dirty = true;
}

} // namespace

void modify()
{
    // With nothing in the table no number can match; asking on would keep
    // the operator here for good. The number is still read, so an answer
    // typed ahead for it is not taken as a menu choice.
    if (n == 0) {
        prompt("请输入要修改学生的学号：");
        word();
        line("该学号不存在\n");
        return;
    }
    student& r = ask_record();
    field_menu();
    prompt("请选择需要的功能编号：");
    change(r, choice());
}
