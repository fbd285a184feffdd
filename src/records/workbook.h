// The register as a workbook (.xlsx), for spreadsheet programs: typed cells
// and Unicode text, so nothing is left for a spreadsheet to guess.
#pragma once

#include <string>

// Why no workbook was made: a value with bytes that are no character
// (row counts the records from 1, field the columns from 0), too little
// room for the temporary files, no library to write it with (this system
// lacks libxlsxwriter), or the library or those files failed.
enum class workbook_fault { none, value, room, library, failed };

struct workbook_result {
    workbook_fault fault = workbook_fault::none;
    int row = 0;
    int field = 0;
};

// The records in use as a workbook: one sheet named 学生, the CSV's header
// row (bold, kept in view when scrolling), then one row per record in
// table order. Every value is a text cell but the age, a number, so student
// numbers, phone numbers and birth months keep every character and no
// value is ever read as a formula; text that looks like the format's own
// escapes (_x0041_) is escaped in turn, so it reads back as it is. Columns
// are as wide as their widest value. On failure bytes is untouched.
workbook_result workbook_bytes(std::string& bytes);
