// Input at a POSIX terminal: typed and piped reading, and what the pause
// sets aside for the reads after it. Used only by the POSIX terminal layer.
#pragma once

#include <cstddef>
#include <cstdio>

// Standard input as a stream read through the waits, so that a request to
// end the session ends a wait for it. At a terminal (tty) it hands over one
// answer at a time, each typed ahead shown after its own prompt, converted
// from UTF-8 when convert is set, and read through the line editor when
// editor is given: it is called once, when the first answer is awaited,
// and says whether the editor could be had (the terminal's own line mode
// reads the answers otherwise). Null when the stream cannot be had.
std::FILE* input_stream(bool tty, bool convert, bool (*editor)());

// To set aside: to take bytes off the terminal now and keep them, in order,
// as typed ahead for the reads to come, so the pause's key is a new one.

// Sets aside whatever the terminal holds for the reads to come, waiting up
// to ms for more after each piece, so that a key read straight from the
// terminal takes only a key pressed from now on. eof is the end-of-input
// key: out of line mode it arrives as a byte, and still ends the input.
void set_aside(int ms, int eof);

// Sets aside n bytes that came from the terminal with the pause's key.
void set_aside(const char* p, std::size_t n);

// The terminal has ended: the reads get what was set aside, then the end.
void input_ended();
