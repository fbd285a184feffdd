// The register in memory: one fixed table of student records shared by
// every screen and by the data file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr int STUDENT_CAPACITY = 1000;

// Longest text, in bytes, that each field holds (its storage is one more,
// for the terminating NUL). Every value is checked against these before it
// is stored.
constexpr std::size_t ID_CAP = 20;
constexpr std::size_t NAME_CAP = 22;
constexpr std::size_t SEX_CAP = 2;
constexpr std::size_t BIRTH_CAP = 20;
constexpr std::size_t ADDRESS_CAP = 29;
constexpr std::size_t PHONE_CAP = 20;
constexpr std::size_t EMAIL_CAP = 32;

struct student {
    char id[ID_CAP + 1];
    char name[NAME_CAP + 1];
    std::int32_t age;
    char sex[SEX_CAP + 1];
    char birth[BIRTH_CAP + 1];
    char address[ADDRESS_CAP + 1];
    char phone[PHONE_CAP + 1];
    char email[EMAIL_CAP + 1];
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

// Copies v into a text field of N bytes. The caller has checked that v
// fits (v.size() < N); a value that does not fit is cut, never overrun.
template <std::size_t N>
void put(char (&field)[N], std::string_view v)
{
    std::size_t len = v.size() < N ? v.size() : N - 1;
    v.copy(field, len);
    field[len] = '\0';
}
