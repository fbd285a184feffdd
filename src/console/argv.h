// The program's arguments in the form the file layer takes names in.
#pragma once

#include <string>
#include <vector>

// The arguments after the program's name. On POSIX they are main's argv as
// the system gave them. On Windows main's argv is in the ANSI code page,
// which loses every character it cannot hold (a Chinese name on an English
// system arrives as '?'), so they are read from the wide command line and
// given as UTF-8, the form of names the Windows file layer takes.
std::vector<std::string> arguments(int argc, char** argv);
