// The platform layer: everything that differs between a POSIX terminal and
// a Windows console sits behind these functions, one source file per
// platform, picked by the build.
#pragma once

#include <cstdio>

// Sets up the process's standard streams for the dialogue and reports
// which of them is a terminal.
void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty);

// Standard error, for notices: converted like standard output when it is a
// terminal. Call after term_open.
std::FILE* term_err();

// From now on the bytes written to out reach it as they are, with no line
// ends of the platform's put in (Windows writes CR LF for each line break).
// False when the program was started with out (standard output) closed:
// nothing written there reaches anyone.
bool term_bytes(std::FILE* out);

// Called by the dialogue before each answer is read, in place of flushing
// out: sends what was written so far on its way, and lets the platform show
// an answer that was typed ahead after the prompt it answers.
void term_ask(std::FILE* out);

// Shows the press-a-key text and, when in_tty, waits for one key without
// taking anything the operator has already typed ahead.
void term_pause(std::FILE* out, bool in_tty, const char* text);

// Clears the screen and its scroll-back when out_tty.
void term_clear(std::FILE* out, bool out_tty);

// A request to end the session from outside the dialogue: SIGINT, SIGTERM,
// SIGHUP or SIGQUIT on POSIX; Ctrl-C, Ctrl-Break or closing the console window on
// Windows. Once one has come, reading standard input reports the end of
// input, and this returns a nonzero code for the request (0 until then).
int term_stopped();

// Once a request has come: from now on, whatever blocks (output to a
// terminal that is stopped, a pipe nobody reads) ends the process the way
// the request says within two seconds, so keeping the operator's work
// comes first and nothing after it can hang.
void term_deadline();

// For work that leaves nothing to keep or to remove when it is cut short
// (output written straight to standard output): from now on a request
// ends the process at once, as it ends any program that does not catch
// it, and one that came already ends it now.
void term_plain_stops();

// Restores the terminal and ends the process the way the request that
// term_stopped reported ends a process on this platform (on POSIX: killed
// by that signal, so a shell sees 128 + its number).
[[noreturn]] void term_exit(int code);

