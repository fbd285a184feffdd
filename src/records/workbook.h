// The register as a workbook (.xlsx), for spreadsheet programs: typed cells
// and Unicode text, so nothing is left for a spreadsheet to guess.
#pragma once

#include <string>

// The records in use as a workbook: one sheet named 学生, the CSV's header
// row (bold, kept in view when scrolling), then one row per record in
// table order. Every value is a text cell but the age, a number, so student
// numbers, phone numbers and birth months keep every character and no
// value is ever read as a formula. Columns are as wide as their widest
// value. False, with bytes untouched, when the library or a scratch file
// fails.
bool workbook_bytes(std::string& bytes);
