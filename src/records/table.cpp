#include "records/table.h"

#include <algorithm>
#include <cstring>

student stu[STUDENT_CAPACITY];
int n;

void sort()
{
    // strcmp compares as unsigned char and puts a proper prefix first, which
    // is the order the register has always been kept in; stable_sort keeps
    // records with equal ids in the order they were loaded.
    std::stable_sort(stu, stu + n, [](const student& a, const student& b) {
        return std::strcmp(a.id, b.id) < 0;
    });
}
