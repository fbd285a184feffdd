// Output at a Windows console: standard output and standard error moved onto
// pipes whose bytes threads show through the console's wide calls. Used only
// by the Windows terminal layer.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <windows.h>

// Moves standard output, or standard error, onto a pipe shown on con.
bool open_output(HANDLE con);
bool open_notices(HANDLE con);

// Whether standard output is shown on a console through here.
bool showing();

// Waits until everything written to out so far is on the console, the
// notices in their place, so the console can be worked on directly.
void settle(std::FILE* out);

// Shows gbk on the console as a line of its own (an answer typed ahead,
// after its prompt), unless the dialogue is dropped.
void show_line(const std::string& gbk);

// Clears the console's screen and its scroll-back.
void clear_console();

// Shows what is left, the notices too, and ends the line a prompt or a
// half-typed answer is on, so the shell's prompt starts a line of its own.
void output_end();
