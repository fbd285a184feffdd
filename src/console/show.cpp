#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

void show()
{
    line("所有学生的信息为:");
    line("学生学号  学生姓名  年龄  性别  出生年月  地址    电话    E-mail");
    line("--------------------------------------------------------------------");
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        row("%6s %7s %5d %5s %9s %8s %10s %14s\n", r.id, r.name, r.age, r.sex,
            r.birth, r.address, r.phone, r.email);
    }
}
