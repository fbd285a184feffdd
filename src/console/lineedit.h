// Line editing of answers at a POSIX terminal (arrows, Home/End, Backspace
// and Delete over whole characters, Ctrl-U and Ctrl-K as in a shell, and
// recall of this session's earlier answers), through libedit when the system has it. Used only by
// the POSIX terminal layer.
#pragma once

#include "console/terminal_wait_posix.h"

#include <cstddef>
#include <string>

// Loads the library. False, with nothing changed, when it is missing: the
// terminal's own line mode is used then.
bool edit_open();

enum class edited { line, cut, end, stopped };

// The longest line handed to the editor, in bytes. The library keeps a
// pointer into a buffer that it moves once a line outgrows 1 KiB, and then
// writes through the stale pointer into freed memory, which sooner or later
// aborts the program; a whole student is under 200 bytes.
constexpr std::size_t edit_cap = 1000;

// The longest line kept of what is typed ahead or pasted outside the editor.
constexpr std::size_t line_cap = 8192;

// Reads one line at the terminal, showing prompt (in the terminal's
// encoding) before it, unless drawn says it is shown already with the cursor
// at its end, and begun after it as the start of the line. wait is
// asked before each key (after a stop and continue the line is drawn again).
// line is what was typed, without its line break, on edited::line;
// edited::cut is the same for a line that reached edit_cap, beyond which
// keys were dropped with a bell until Enter; edited::end is the end of input. Tab is typed as it is (it separates
// answers), never completed. The terminal is back in its own mode when this
// returns.
edited edit_line(const std::string& prompt, bool drawn, const std::string& begun, waited (*wait)(),
                 std::string& line);
