// Console primitives: the only code that reads the operator's input or
// writes the program's output. Every screen and the data file go through
// these, so a test can drive a whole dialogue in-process from a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Thrown when the session has to end: standard input has run out, the operator
// chose to leave, or the data file could not be closed. The main loop catches
// it and returns, so the process ends (with run's status) and without saving.
struct leave {};

// Points the primitives at the given streams (notices at err, or at the
// process's standard error when err is null). With interactive set, pause
// waits for a key, clear really clears, and control bytes in stored values
// are masked, as on a terminal.
void console_use(std::FILE* in, std::FILE* out, bool interactive, std::FILE* err = nullptr);

// Points the primitives at the process's own standard input, output and
// error, bridged to the terminal's encoding where they are a terminal.
void console_std();

// For a command that does its work without the menu (--export, --import):
// from now on every primitive writes straight to the process's standard
// output and error, in the form own_text gives for each, as the help is
// written. Such a command has no dialogue whose bytes must stay GBK, so
// piped or not its words follow the locale. Call after console_std().
void console_command();

// Writes text and a line break.
void line(std::string_view text);

// Writes text with no line break, so the answer follows on the same line.
void prompt(std::string_view text);

// Writes a line about files to standard error, apart from the dialogue,
// after the dialogue so far.
void notice(std::string_view text);

// Writes one record row, printf-formatted. At a terminal every control
// byte in it but the line break is shown as '?'.
void row(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes printf-formatted text with no line break added.
void say(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Returns printf-formatted text.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Longest token that reads keep whole: longer than any field or number.
constexpr std::size_t word_cap = 1024;

// Sends what was written so far, then reads the next token delimited by
// white space (a NUL byte is part of a word). A token longer than word_cap
// is read to its end but only its first word_cap + 1 bytes are kept and
// returned, which no field or number takes. Throws leave at the end of input.
std::string word();

// Reads the next token and parses it as a whole 32-bit decimal integer.
// A token that is not one is consumed all the same and false is returned,
// leaving out alone. Throws leave at the end of input.
bool number(std::int32_t& out);

// Reads a choice from a numbered menu: the next token as a number, or 0,
// which no menu offers, when it is not one. Either way it is used up, so
// it cannot stick. Throws leave at the end of input.
std::int32_t choice();

// Tells the operator to press a key and, on a terminal, waits for one.
void pause_key();

// Clears the screen on a terminal; writes nothing otherwise.
void clear();

// Sends buffered output on its way.
void flush();
