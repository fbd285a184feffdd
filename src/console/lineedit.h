// Line editing of answers at a POSIX terminal (arrows, Home/End, Backspace
// and Delete over whole characters, Ctrl-U, and recall of this session's
// earlier answers), through libedit when the system has it. Used only by
// the POSIX terminal layer.
#pragma once

#include <string>

// Loads the library. False, with nothing changed, when it is missing: the
// terminal's own line mode is used then.
bool edit_open();

enum class edited { line, end, stopped };

// Reads one line at the terminal, showing prompt (in the terminal's
// encoding) before it. wait is asked before each key; false from it means
// the session is to stop. line is what was typed, without its line break,
// on edited::line; edited::end is the end of input. The terminal is back in
// its own mode when this returns.
edited edit_line(const std::string& prompt, bool (*wait)(), std::string& line);
