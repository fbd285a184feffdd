// The platform layer: everything that differs between a POSIX terminal and
// a Windows console sits behind these functions, one source file per
// platform, picked by the build.
#pragma once

#include <cstdio>

// Sets up the process's standard streams for the dialogue and reports
// which of them is a terminal.
void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty);

// Shows the press-a-key text and, when in_tty, waits for one key without
// taking anything the operator has already typed ahead.
void term_pause(std::FILE* out, bool in_tty, const char* text);

// Clears the screen and its scroll-back when out_tty.
void term_clear(std::FILE* out, bool out_tty);

// Forces what has been written to f onto the disk. f has been flushed.
bool term_sync(std::FILE* f);

// Renames from to to, replacing to if it exists, in one step.
bool term_replace(const char* from, const char* to);
