// The fields of a student, in the one order the data file, the spreadsheets
// and the screens share, with what sets each apart. A new field is a member
// of student, a row here, and the screens' own words for it.
#pragma once

#include "records/table.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct field_info {
    const char* name;        // its column's name in the spreadsheets, GBK
    const char* also;        // other names a sheet may give it, GBK, comma-separated
    std::size_t at;          // where it lives in a student (offsetof)
    std::size_t cap;         // longest text it holds, in bytes; 0 for a number
    bool number = false;     // a 32-bit integer rather than text
};

constexpr int field_count = 8;

// Every field, in file order; the first is the student number, the key.
extern const field_info fields[field_count];

// A text field of r as its NUL-terminated storage.
char* text_of(student& r, const field_info& f);
const char* text_of(const student& r, const field_info& f);

// A number field of r.
std::int32_t& number_of(student& r, const field_info& f);

// A field of r as the files write it: the text, or the number in decimal.
std::string value_text(const student& r, const field_info& f);

// White space, which separates the words of the data file and of the
// operator's answers, and which no value holds. A NUL byte is none.
inline bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// A control byte (0x00-0x1F, 0x7F): no value typed or imported holds one.
inline bool control(char c)
{
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// Why a value cannot be stored.
enum class value_fault { none, empty, blank, control, too_long, not_gbk, not_number };

// The one check of a value typed or imported for f, then its storing in r
// (r untouched on a fault). Text must be non-empty, without white space or
// control bytes, GBK characters each with a Unicode form (so it can be
// exported again) and at most f.cap bytes, looked for in that order; a
// number a whole 32-bit decimal. cut: v is only the start of a value whose
// rest was dropped: text too long once it passed the first three, no number.
value_fault store(student& r, const field_info& f, std::string_view v, bool cut = false);

// Copies v into a text field of r, cut to f.cap bytes, never overrun.
void put_text(student& r, const field_info& f, std::string_view v);
