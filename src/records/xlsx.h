// The calls of libxlsxwriter that a workbook needs, reached through one
// table so that each platform decides how the library is had: on Linux it
// is loaded when a workbook is written, on Windows it is linked in.
#pragma once

#include <xlsxwriter.h>

struct xlsx_calls {
    decltype(&::workbook_new) workbook_new = nullptr;
    decltype(&::workbook_add_worksheet) workbook_add_worksheet = nullptr;
    decltype(&::workbook_add_format) workbook_add_format = nullptr;
    decltype(&::workbook_close) workbook_close = nullptr;
    decltype(&::format_set_bold) format_set_bold = nullptr;
    decltype(&::worksheet_write_string) worksheet_write_string = nullptr;
    decltype(&::worksheet_write_number) worksheet_write_number = nullptr;
    decltype(&::worksheet_set_column) worksheet_set_column = nullptr;
    decltype(&::worksheet_freeze_panes) worksheet_freeze_panes = nullptr;
};

// The library's calls, every one of them set; nullptr when this system
// does not have the library (nothing is changed then, and asking again
// gives the same answer).
const xlsx_calls* xlsx_load();
