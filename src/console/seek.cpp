#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

#include <cstdint>
#include <string>

namespace {

// Prints every record in use whose field f equals key, each under its own
// heading; false when none does. A key longer than every field simply
// matches nothing.
bool find(const std::string& key, const field_info& f)
{
    bool found = false;
    for (int k = 0; k < n; ++k) {
        if (key != text_of(stu[k], f))
            continue;
        found = true;
        line("学生学号     学生姓名  年龄  性别  出生年月     地址          电话       E-mail");
        line("-------------------------------------------------------------------------------");
        show_record(stu[k], {6, 6, 5, 5, 9, 8, 10, 14});
    }
    return found;
}

} // namespace

void seek()
{
    line("**************");
    line("1:按学号查询");
    line("2:按姓名查询");
    line("3:退出本次查询");
    line("**************");
    for (;;) {
        prompt("请输入编号:");
        std::int32_t c = choice();
        if (c == 1) {
            prompt("请输入要查询的学生的学号:");
            if (!find(word(), fields[0]))
                line("学号不存在");
        } else if (c == 2) {
            prompt("请输入要查询学生的姓名:");
            if (!find(word(), fields[1]))
                line("姓名不存在");
        } else if (c == 3) {
            return;
        } else {
            line("只能在1-3中选择");
        }
    }
}
