#include "console/ask.h"
#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"

#include <cstdint>
#include <string>

// How many students the last add dialogue was asked to enter.
int m;

namespace {

// Asks the number of students to add until it fits the free slots.
int ask_count()
{
    for (;;) {
        line("请输入待增加的学生数:");
        std::int32_t v;
        if (!number(v))
            line("输入的不是整数,请重新输入");
        else if (v > STUDENT_CAPACITY - n)
            say("最多还能增加%d个学生,请重新输入\n", STUDENT_CAPACITY - n);
        else
            return v;
    }
}

// True when id is held by a slot below i: the records in use and the
// students already entered in this dialogue.
bool taken(std::string_view id, int i)
{
    for (int k = 0; k < i; ++k)
        if (id == stu[k].id)
            return true;
    return false;
}

// The question for each field, in field order, given the student's place.
const char* const questions[field_count] = {
    "请输入第 %d 个学生的学号:\n", "请输入第 %d 个学生的姓名:\n", "请输入第 %d 个学生的年龄:\n",
    "请输入第 %d 个学生的性别:\n", "请输入第 %d 个学生的出生年月:(格式:年.月)\n",
    "请输入第 %d 个学生的地址:\n", "请输入第 %d 个学生的电话:\n", "请输入第 %d 个学生的E-mail:\n",
};

// Enters the student of slot i; the prompts show its place in the table.
void enter(int i)
{
    student& r = stu[i];
    std::string q = format(questions[0], i + 1);
    ask_value(q, r, fields[0]);
    while (taken(r.id, i)) {
        line("已有该学号,请检查后重新录入!");
        ask_value(q, r, fields[0]);
    }
    for (int c = 1; c < field_count; ++c)
        ask_value(format(questions[c], i + 1), r, fields[c]);
}

} // namespace

void add()
{
    m = ask_count();
    int first = n;
    for (int i = first; i < first + m; ++i) {
        enter(i);
        // A student counts once all its answers are in, so a session cut
        // short keeps the students already finished.
        n = i + 1;
        dirty = true;
    }
    line("录入完毕！\n");
    sort();
}
