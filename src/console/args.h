// The command line. The program takes no argument for its work: it always
// keeps its register in "student.txt" of the folder it is started in. It
// answers -h/--help and --version and refuses anything else.
#pragma once

// Handles the arguments of main. Call after console_std(), so the texts
// reach a terminal in its encoding. With no argument returns -1: start the
// menu. With exactly one of -h, --help or --version prints the help or the
// name and version on standard output and returns 0. Otherwise writes a
// one-line error naming the first argument it cannot take and the usage
// line on standard error and returns 2.
int args(int argc, char** argv);
