// The commands that trade the register with spreadsheets, without the menu.
#pragma once

#include <string>

// Writes the register to out: as a workbook when the name ends in .xlsx (in
// any case), otherwise as CSV ("-": standard output). The file is replaced
// whole or not at all, and never when it is the register itself. 0 when
// done; 1, with the reason on standard error, when not.
int export_register(const std::string& out);

// Adds the students of the CSV file in to the register and saves it: all of
// them or none. 0 when done, saying how many; 1, with the first refusal on
// standard error, when not.
int import_register(const std::string& in);
