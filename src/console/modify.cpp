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

void field_menu()
{
    line("------------------");
    line("1.修改姓名");
    line("2.修改年龄");
    line("3.修改性别");
    line("4.修改出生年月");
    line("5.修改地址");
    line("6.修改电话号码");
    line("7.修改E-mail地址");
    line("8.退出本菜单");
    line("------------------");
}

// The question for each field after the student number, in field order.
const char* const questions[field_count - 1] = {
    "请输入新的姓名:", "请输入新的年龄:", "请输入新的性别:", "请输入新的出生年月:",
    "请输入新的地址:", "请输入新的电话号码:", "请输入新的邮件地址:",
};

// The menu offers the fields after the number, then a way out.
void change(student& r, std::int32_t choice)
{
    if (choice == field_count)
        return;
    if (choice < 1 || choice > field_count) {
        line(format("请在1-%d中进行选择", field_count));
        return;
    }
    ask_value(questions[choice - 1], r, fields[choice]);
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
