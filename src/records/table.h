// The register in memory: one fixed table of student records shared by
// every screen and by the data file.
#pragma once

#include <cstdint>

constexpr int STUDENT_CAPACITY = 1000;

// Each text field holds a NUL-terminated value of at most one byte less
// than its storage; every value is checked against that before it is
// stored. What else tells the fields apart is in records/fields.h.
struct student {
    char id[21];
    char name[23];
    std::int32_t age;
    char sex[3];
    char birth[21];
    char address[30];
    char phone[21];
    char email[33];
};

// Records in use fill stu[0] to stu[n-1]; slots from n upward are outside
// the register and may still hold old contents.
extern student stu[STUDENT_CAPACITY];
extern int n;

// True when the table holds changes that no save has written yet: a
// student added, deleted or changed since the last load or save.
extern bool dirty;

// Orders stu[0..n-1] by id, comparing bytes as unsigned values with a
// proper prefix first. Records with equal ids keep their relative order.
void sort();
