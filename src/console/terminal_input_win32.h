// Input at a Windows console: lines read with the console's own editing
// only when the program asks for an answer, handed over one answer at a
// time through a pipe the runtime reads (terminal_input_win32.cpp), and the
// pause's key (terminal_key_win32.cpp). Used only by the Windows terminal
// layer.
#pragma once

#include <windows.h>

// Moves standard input onto a pipe fed from the console con.
bool open_input(HANDLE con);

// Whether answers are read from a console through here.
bool reading();

// The console input, for the pause to take its key from.
HANDLE input_console();

// The program asks for its next answer.
void want_answer();

// Ends the input at once, dropping what was typed ahead (a request to end
// the session has come).
void input_cut();

// Waits for a key press beyond the first old events of the console's input,
// which were typed ahead and stay for the reads after the pause. Ends at
// once when the session is to end.
void await_key(DWORD old);
