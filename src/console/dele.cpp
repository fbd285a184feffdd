#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

#include <algorithm>
#include <string>

void dele()
{
    line("请输入要删除学生的学号:");
    std::string key = word();
    // Only the first record with the number goes, even when a loaded file
    // held it twice: one delete removes one student.
    student* end = stu + n;
    student* hit = std::find_if(stu, end, [&](const student& r) { return key == r.id; });
    if (hit == end) {
        line("该学号不存在！");
        return;
    }
    std::copy(hit + 1, end, hit);
    --n;
    dirty = true;
    line("删除成功,显示结果请选择菜单6");
}
