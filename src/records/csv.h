// The register as a spreadsheet file: CSV (RFC 4180), written in UTF-8 with
// a byte-order mark so that spreadsheet programs read it right anywhere,
// and read in UTF-8 or GBK. The first row names the eight columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The records in use as CSV: the header row, then one row per record in
// table order, CR LF line ends. Only values holding a comma, a double quote,
// CR or LF are quoted. A text value that a spreadsheet would take for a
// formula (one starting with =, +, - or @, after any apostrophes) gets one
// more apostrophe in front, which import_csv takes off again. False, with
// out untouched, when a value holds a byte with no Unicode form (see
// gbk_to_utf8): row (counting the records from 1) and field (the columns
// from 0) then say which.
bool csv_text(std::string& out, int& row, int& field);

// Why a row cannot be imported.
enum class csv_fault { none, quote, fields, empty, blank, control, not_gbk, too_long, age, taken, too_many };

struct csv_refusal {
    csv_fault fault = csv_fault::none;
    int row = 0;         // counted as a spreadsheet counts rows, from 1
    int field = 0;       // 0 to 7, for the faults of one value
    std::size_t cap = 0; // for too_long: the field's capacity in bytes
};

// Reads text as CSV (UTF-8 with or without the mark, or GBK; CR LF or LF)
// and checks every row as the add screen checks a student: eight values, a
// student number in use nowhere else, a whole 32-bit age, each value
// within its field and without white space, control bytes or characters
// GBK cannot hold, at most STUDENT_CAPACITY students in all. A first row
// equal to the header is skipped, and so are empty rows. All or nothing: on
// success the rows are added after the records in use, the table counts as
// changed, and added is their number; otherwise nothing changes and the
// first refusal is returned.
csv_refusal import_csv(std::string_view text, int& added);

// The column names, in GBK, for messages.
extern const char* const csv_columns[8];
