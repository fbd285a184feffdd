// Windows console. The program and its data file speak GBK, but a console
// shows bytes in whatever code page it is on: 437 or 65001 as often as 936.
// Its wide-character calls do not depend on the code page, so when a
// standard stream is a console the C runtime's descriptor is moved onto a
// pipe, and threads convert between that pipe and the console's wide calls
// (GB18030 where the system has it, which contains GBK; plain 936 where it
// does not, as under wine). Off a console every byte passes unchanged.
// Pause and clear use the console itself, not the command interpreter: no
// process is started and the texts are the program's own.
//
// This file wires the parts together: the output
// (terminal_output_win32.cpp), the input (terminal_input_win32.cpp), the
// pause's key (terminal_key_win32.cpp) and the control events
// (terminal_control_win32.cpp).
#include "console/terminal.h"

#include "console/terminal_control_win32.h"
#include "console/terminal_input_win32.h"
#include "console/terminal_output_win32.h"

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    control_open();
    HANDLE con_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE con_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE con_err = GetStdHandle(STD_ERROR_HANDLE);
    set_modes(con_in, con_out);
    DWORD mode;
    in_tty = GetConsoleMode(con_in, &mode);
    out_tty = GetConsoleMode(con_out, &mode);
    // All taken before any descriptor moves: two standard streams may
    // share one handle, which the first move would close. Each open does
    // nothing with null (not a console).
    HANDLE own_in = in_tty ? own(con_in) : nullptr;
    HANDLE own_out = out_tty ? own(con_out) : nullptr;
    HANDLE own_err = GetConsoleMode(con_err, &mode) ? own(con_err) : nullptr;
    open_output(own_out);
    open_notices(own_err);
    open_input(own_in);
    // A normal end of the program shows what is left, and leaves the
    // console on a fresh line.
    std::atexit(output_end);
    in = stdin;
    out = stdout;
    // Held back until input is awaited, as on POSIX.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 14);
}

std::FILE* term_err()
{
    // At a console it reaches the console's wide calls (open_notices).
    return stderr;
}

void term_ask(std::FILE* out)
{
    settle(out);
    if (reading())
        want_answer();
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    // Once the session is to end, the console is left alone: the work is
    // written first.
    bool wait = in_tty && reading() && !stopped();
    // Counted before the text shows, so that any key pressed once it shows
    // counts and what was typed before stays typed ahead. The console is
    // ours: lines are read only while the program asks for an answer.
    DWORD old = 0;
    if (wait)
        GetNumberOfConsoleInputEvents(input_console(), &old);
    std::fputs(text, out);
    if (wait) {
        settle(out);
        await_key(old);
    }
    std::fputc('\n', out);
}

void term_clear(std::FILE* out, bool out_tty)
{
    if (!out_tty || !showing() || stopped())
        return;
    settle(out);
    clear_console();
}

void term_deadline()
{
    // The dialogue is dropped once a request has come (request), and
    // notices are not shown on a console that is closing (show_notices);
    // whatever else blocks, a notice on a console whose output is held or
    // standard error on a pipe nobody reads, is cut short here.
    work_kept();
    if (stopped())
        start_deadline();
}

int term_stopped()
{
    return stop_code();
}

void term_plain_stops()
{
    // Released first: a request that comes after the check ends the
    // process by itself, and one that came before is seen here.
    release_control();
    if (int code = stop_code())
        term_exit(code);
}

void term_exit(int code)
{
    output_end();
    restore_modes();
    // What the system's own handler does for these events.
    ExitProcess(code ? STATUS_CONTROL_C_EXIT : 0);
}

bool term_bytes(std::FILE* out)
{
    std::fflush(out);
    // No descriptor to set: the program was started without the stream.
    return _setmode(_fileno(out), _O_BINARY) != -1;
}
