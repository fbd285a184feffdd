// The held prompt, where the POSIX terminal's input meets its output. While
// answers are edited, the output's last line, unfinished (a prompt), is held
// back: shown as it is when an answer typed ahead answers it, or handed to
// the line editor, which draws it itself and so knows where the answer
// starts. The output owns it (terminal_output_posix.cpp); the input and the
// pause use it through these functions alone.
#pragma once

#include <cstddef>
#include <string>

// Shows the held line as it is.
void show_held();

// Takes the held line, with any part of it already shown, for the line
// editor. drawn tells that the whole line is on the terminal with the cursor
// at its end, for the editor to take as drawn; otherwise the cursor is put
// at the start of the line for the editor to draw it from there.
std::string take_held(bool& drawn);

// Whether answers typed ahead are shown: input and output are one terminal.
bool echoing();

// Shows the n bytes of an answer typed ahead at p after the prompt it
// answers, as if typed there, and ends their line when whole.
void echo_answer(const char* p, std::size_t n, bool whole);

// gbk as the terminal shows it.
std::string shown_form(const std::string& gbk);

// Tells the output where the operator's typing left the cursor: at the
// start of a line or not.
void typed_to(bool line_start);
