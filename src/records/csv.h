// The register as a spreadsheet file: CSV (RFC 4180), written in UTF-8 with
// a byte-order mark so that spreadsheet programs read it right anywhere,
// and read in UTF-8 or GBK. The first row names the columns.
#pragma once

#include "records/fields.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// The records in use as CSV: the header row, then one row per record in table
// order, CR LF line ends. Only values holding a comma, a double quote, CR or LF
// are quoted. A text value that a spreadsheet would take for a formula (one
// starting with =, +, - or @, after any apostrophes) gets one more apostrophe
// in front, which import_csv takes off again. False, with out untouched, when a
// value holds a byte with no Unicode form (see gbk_to_utf8): row (counting the
// records from 1) and field (the columns from 0) then say which.
bool csv_text(std::string& out, int& row, int& field);

// Why a row cannot be imported. The column faults are the header's.
enum class csv_fault {
    none, quote, fields, value, taken, too_many,
    column_unknown, column_unnamed, column_twice, column_missing, unreadable
};

struct csv_refusal {
    csv_fault fault = csv_fault::none;
    long long row = 0;   // counted as a spreadsheet counts rows, from 1
    int field = 0;       // the field (see fields), for value and column_missing;
                         // the header's cell, from 0, for column_unnamed
    value_fault value = value_fault::none; // for value: why (see store)
    long long count = 0; // for fields: the values the row has
    std::string name{};  // for column_unknown and column_twice: the cell, in
                         // GBK, control bytes shown as '?'
};

// Reads the CSV file f from its start as a stream (UTF-8 with or without
// the mark, or GBK, told as a register's encoding is; CR LF or LF) and
// checks every row as the add screen checks a student: one value a field,
// each passing store, a student number in use nowhere else, at most
// STUDENT_CAPACITY students in all. Memory stays
// bounded whatever the file holds: only the first few bytes of a value and
// the first few values of a row are kept, enough to name any refusal.
//
// Rows whose values are all empty or white space are skipped wherever they
// are, and still counted. The first other row is a header when one of its
// cells is a column name (see csv_column): the columns are then taken by
// name in any order, and a header with a cell that names no column, no
// name, a column twice or without a column is refused. Without a header
// the columns come in the export's order.
//
// All or nothing, stopping at the first refusal: on success the rows are
// added to the records in use, the table is sorted (see sort), counts as
// changed when it grew, and added is their number; otherwise the records
// in use are untouched and the refusal is returned.
csv_refusal import_csv(std::FILE* f, int& added);

// A header cell as it is compared: full-width ASCII (A3A1-A3FE) and the
// ideographic space (A1A1) as their ASCII forms, letters in lower case, no
// spaces around it. Empty for a cell without a name. GBK.
std::string folded(std::string_view v);

// The field a header cell names (its name or one of its other names in
// fields), compared without case, spaces around it or the difference
// between full-width and ASCII forms. -1 when it names none. The cell is GBK.
int csv_column(std::string_view cell);

// Whether a spreadsheet would take text v for a formula once its leading
// apostrophes are off: the export puts one more in front of such a value,
// and the import takes it off again.
bool guarded(std::string_view v);
