// The data file's reader, apart from the file's name and its saving. Used
// by the data file's own code (datafile.cpp).
#pragma once

#include "records/datafile.h"
#include "records/encoding.h"

#include <cstdio>
#include <string>

// Reads the records of f (in enc, converted to GBK) into the table from slot 0
// on, leaving n alone. On ok, count is the number of records read. Otherwise
// the records in use are put back exactly as they were, and on bad_record, bad
// is the 1-based number of the first bad record. strict says whether a file
// read as UTF-8 was strict UTF-8 as far as it was read.
load_status load_as(std::FILE* f, int& count, int& bad, text_encoding enc, bool& strict);

// Puts back the records in use that a load of count records overwrote.
void undo_load(int count);

// In a UTF-8 file (after a mark, with bom) whose record bad was refused: the
// field of it (0-7, in file order) holding a character GBK cannot hold, and
// that character, in UTF-8. ch is given no character when no field of that
// record holds one.
void find_unheld(std::FILE* f, bool bom, int bad, int& field, std::string& ch);
