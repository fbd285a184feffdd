// The data file "student.txt" in the working directory: the only lasting
// form of the register. One record per line, eight fields separated by
// single spaces, the age in decimal.
#pragma once

#include <cstdio>

// Menu 1: replaces the table with the records of the file. A file that
// cannot be read, or that holds any bad record, is refused with one line
// and leaves the table exactly as it was; "刷新完成" otherwise.
void refresh();

// Menu 7: replaces the file with the records in use. The file is replaced
// whole or not at all: on any failure the old file stays as it was, no
// temporary file is left, and the failure line is printed. Prints nothing
// on success.
void save();

// What the reader found in a file.
enum class load_status { ok, bad_record, too_many, read_error };

// Reads the records of f into the table from slot 0 on, leaving n alone.
// On ok, count is the number of records read. Otherwise the records in use
// are put back exactly as they were, and on bad_record, bad is the 1-based
// number of the first bad record.
load_status load(std::FILE* f, int& count, int& bad);

// Test seam: each step of a save asks this hook first, when it is set, and
// fails as if the system had refused it when the hook returns true.
enum class save_step { create, write, flush, sync, close, rename };
extern bool (*save_fault)(save_step);

// Benchmark seam: with this cleared, a save skips the disk sync, so what
// the rest of a save costs can be measured apart from the disk.
extern bool save_sync;
