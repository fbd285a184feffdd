// Control events at a Windows console: the request to end the session, the
// console's modes, and the deadline once a request has come. Used only by
// the Windows terminal layer.
#pragma once

#include <windows.h>

// Sets up the request's event and catches Ctrl-C, Ctrl-Break and the
// window, the session or the system ending. Call first.
void control_open();

// The handler of control events set_modes installs. For a close, a
// sign-out or a shutdown it returns once work_kept has been called.
BOOL WINAPI on_control(DWORD event);

// The operator's work is on disk (or there was none to keep): the system
// may end the process.
void work_kept();

// Asks the session to end, as the signal code would on POSIX; the first
// request's code is kept.
void request(LONG code);

// Whether a request has come (the dialogue is then no longer shown), and its
// code (0 until one has).
bool stopped();
int stop_code();

// Set once a request has come, never cleared; a wait can watch it.
HANDLE stop_event();

// Whether the console itself is going away, when any call on it may block.
bool closing();

// Takes over the console's modes and its control events for the dialogue;
// the modes it had are put back by restore_modes, and when the program
// ends.
void set_modes(HANDLE in, HANDLE out);
void restore_modes();

// Leaves the control events to the system again: Ctrl-C and the rest end
// the process at once.
void release_control();

// A handle of the program's own on h: moving a descriptor closes the one
// the runtime held. Null when it cannot be had.
HANDLE own(HANDLE h);

// Ends the process within two seconds, whatever blocks meanwhile.
void start_deadline();
