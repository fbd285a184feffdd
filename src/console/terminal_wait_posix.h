// Signals and waiting at a POSIX terminal: the request to end the session
// (term_stopped, term_deadline and term_plain_stops of terminal.h), the
// terminal's own mode, and the waits for input or for a key. Used only by
// the POSIX terminal layer.
#pragma once

// What a wait for the next key says.
enum class waited {
    key,       // a key is there, or the input has ended
    stop,      // the session is to end
    resized,   // the window changed size meanwhile
    continued, // the program was stopped and continued: draw the line again
};

// Signals that end the session end it between answers, never in the middle
// of a save; a closed output pipe only loses output.
void catch_signals();

// Tells the waits for a key when the window changes size.
void catch_resize();

// Takes note of the terminal's own mode, to put back whatever ends the
// program; none when standard input is not a terminal.
void keep_mode();

// Has the terminal's own line mode (the one kept) erase whole UTF-8
// characters, for as long as the program runs.
void erase_utf8();

// Puts the terminal back in its own mode (see keep_mode).
void restore_mode();

// Waits until standard input can be read (or has ended), for at most ms
// (-1: no limit). False when it cannot be read now or a stop came.
bool wait_input(int ms);

// Waits for the next key of an answer being edited, or of the pause.
waited wait_key();

// Forgets a stop and continue that came before now: the next wait_key
// reports only one from here on.
void forget_continued();
