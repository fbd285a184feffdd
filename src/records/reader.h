// The data file's reader, apart from the file's name and its saving. Used
// by the data file's own code (datafile.cpp).
#pragma once

#include "records/datafile.h"
#include "records/encoding.h"

#include <cstdio>

// Reads f's records as load does; strict says whether a file read as UTF-8
// was strict UTF-8 as far as it was read.
load_status load_as(std::FILE* f, int& count, int& bad, text_encoding enc, bool& strict);

// Puts back the records in use that a load of count records overwrote.
void undo_load(int count);
