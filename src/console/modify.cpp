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

void change(student& r, std::int32_t choice)
{
    switch (choice) {
    case 1: ask_field("请输入新的姓名:", r.name); break;
    case 2: r.age = ask_number("请输入新的年龄:"); break;
    case 3: ask_field("请输入新的性别:", r.sex); break;
    case 4: ask_field("请输入新的出生年月:", r.birth); break;
    case 5: ask_field("请输入新的地址:", r.address); break;
    case 6: ask_field("请输入新的电话号码:", r.phone); break;
    case 7: ask_field("请输入新的邮件地址:", r.email); break;
    case 8: return;
    default: line("请在1-8中进行选择"); return;
    }
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
