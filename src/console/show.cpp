#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

#include <string>

void show_record(const student& r, const int (&widths)[field_count])
{
    std::string text;
    for (int c = 0; c < field_count; ++c)
        text += format(c ? " %*s" : "%*s", widths[c], value_text(r, fields[c]).c_str());
    row("%s\n", text.c_str());
}

void show()
{
    line("所有学生的信息为:");
    line("学生学号  学生姓名  年龄  性别  出生年月  地址    电话    E-mail");
    line("--------------------------------------------------------------------");
    for (int k = 0; k < n; ++k)
        show_record(stu[k], {6, 7, 5, 5, 9, 8, 10, 14});
}
