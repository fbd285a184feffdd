// The command line: which register to work on ("student.txt" in the folder
// the program starts in, unless a file is named), and the commands that do
// their work without the menu: export to and import from a spreadsheet,
// help and version.
#pragma once

#include <string>
#include <vector>

// Handles the arguments after the program's name (see arguments). Call after
// console_std(). The help, the version and the refusals are written in the
// locale's encoding (see own_text), and so are the words of an export or an
// import (see console_command). With no argument, or only a register (FILE, -f
// FILE, --file FILE, or any name after "--", which ends the options), makes
// that the register and returns start_menu. With exactly one of -h, --help or
// --version prints the help (naming the installed sample, when it is there) or
// the name and version and returns 0. --export OUT writes the register as CSV
// to OUT ("-": standard output), --import IN adds IN's rows to the register and
// saves it: 0 when done, 1 with a message on standard error when not. Anything
// else: a one-line error and the usage line on standard error, and 2.
int args(const std::vector<std::string>& argv);

// What args returns when the menu is to run: no exit status yet.
constexpr int start_menu = -1;
