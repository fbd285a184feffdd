// Output at a POSIX terminal: the bridges that convert GBK to the
// terminal's encoding, and what the terminal shows. Used only by the POSIX
// terminal layer; the input reaches it through terminal_held.h.
#pragma once

#include "records/encoding_posix.h"

#include <cstdio>
#include <string>

// Appends the n bytes of GBK at p to out as the terminal is to get them:
// converted by r, with C1 controls shown as "?" (see no_c1).
void shown_text(recoder& r, const char* p, std::size_t n, std::string& out);

// Shows answers typed ahead from now on (input and output are one
// terminal), converted to UTF-8 when convert is set.
void echo_answers(bool convert);

// Standard output as a stream that converts what is written to it (when
// convert is set) and holds back its unfinished last line (when hold is
// set); plain when it would do neither, or cannot be had.
std::FILE* output_stream(std::FILE* plain, bool convert, bool hold);

// Shows the line held back and holds none from now on: the line editor,
// which would have drawn it, could not be had.
void hold_nothing();

// Standard error converted, each notice after the dialogue so far on a
// line of its own; plain stderr when that cannot be had.
std::FILE* notice_stream();

// Ends the line on the terminal, when something is on it, so what follows
// (a notice, the shell's prompt) starts a line of its own.
void end_line();
