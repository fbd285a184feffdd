// The program's arguments in the form the file layer takes names in, and
// the form of what the command line itself says.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The arguments after the program's name. On POSIX they are main's argv as
// the system gave them. On Windows main's argv is in the ANSI code page,
// which loses every character it cannot hold (a Chinese name on an English
// system arrives as '?'), so they are read from the wide command line and
// given as UTF-8, the form of names the Windows file layer takes.
std::vector<std::string> arguments(int argc, char** argv);

// What the command line says that is not the dialogue (the help, the
// version, the refusal of its arguments), given in the program's GBK, in
// the form the reader of f (stdout or stderr, written to directly) expects.
// On POSIX: at a terminal as the dialogue shows there, UTF-8 unless the
// locale is GBK; elsewhere UTF-8 when the locale's character set is UTF-8
// and GBK as it is otherwise (a GBK locale, "C", no locale). On Windows as
// it is: a console shows GBK right on any code page, and a file or a pipe
// gets what the dialogue gives it.
std::string own_text(std::string_view gbk, std::FILE* f);

// A file's name as it was given, in the same form as own_text's for f: on
// POSIX byte for byte where f takes UTF-8, as the system's names mostly
// are, and as shown_name gives it where f takes GBK; on Windows in GBK.
std::string own_name(const std::string& name, std::FILE* f);

// The help's line about the keys that edit an answer on this platform.
const char* editing_keys();
