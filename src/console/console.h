// Console primitives: the only code that reads the operator's input or
// writes the program's output. Every screen and the data file go through
// these, so a test can drive a whole dialogue in-process from a string.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Thrown when the session has to end: standard input has run out, the
// operator chose to leave, or the data file could not be closed. The main
// loop catches it and returns, so the process ends with status 0 and
// without saving.
struct leave {};

// Points the primitives at the given streams. With interactive set, pause
// waits for a key and clear really clears, as on a terminal.
void console_use(std::FILE* in, std::FILE* out, bool interactive);

// Points the primitives at the process's own standard input, output and
// error, bridged to the terminal's encoding where they are a terminal.
void console_std();

// Writes text and a line break.
void line(std::string_view text);

// Writes text and a line break to standard error at once. For complaints
// about the command line, which must not mix with the dialogue's output.
void complain(std::string_view text);

// Writes text with no line break, so the answer follows on the same line.
void prompt(std::string_view text);

// Writes printf-formatted text with no line break added.
void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Returns printf-formatted text.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Sends what was written so far, then reads the next token delimited by
// white space or NUL, of any length. Throws leave at the end of input.
std::string word();

// Reads the next token and parses it as a whole 32-bit decimal integer.
// A token that is not one is consumed all the same and false is returned,
// leaving out alone. Throws leave at the end of input.
bool number(std::int32_t& out);

// Tells the operator to press a key and, on a terminal, waits for one.
void pause_key();

// Clears the screen on a terminal; writes nothing otherwise.
void clear();

// Sends buffered output on its way.
void flush();
