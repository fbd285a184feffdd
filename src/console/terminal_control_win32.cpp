// A request to end the session comes from a console control event on a
// thread of the system's; the dialogue notices it through stop_event.
#include "console/terminal_control_win32.h"

#include "console/terminal_input_win32.h"

#include <csignal>
#include <cstdlib>

namespace {

// A request to end the session: set once, never cleared. From then on the
// dialogue is no longer shown, as a console that is closing may block any
// call on it, and the operator's work is written first.
HANDLE stop_ev;
volatile LONG code_of_stop;
volatile LONG ending_console; // the window, the session or the system is ending
// Set once the operator's work is on disk, or there was none to keep.
HANDLE kept_ev;

// The modes the console had before, put back at the end: a parent's modes
// (no line input, no Ctrl-C) are not this program's.
struct modes {
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    DWORD in_was = 0;
    DWORD out_was = 0;
};

modes before;

DWORD WINAPI deadline(void*)
{
    Sleep(2000);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return 0;
}

} // namespace

BOOL WINAPI on_control(DWORD event)
{
    bool ending = event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
                  event == CTRL_SHUTDOWN_EVENT;
    LONG code = event == CTRL_C_EVENT       ? SIGINT
                : event == CTRL_BREAK_EVENT ? SIGBREAK
                : ending                    ? SIGTERM
                                            : 0;
    if (code == 0)
        return FALSE;
    if (ending)
        InterlockedExchange(&ending_console, 1);
    request(code);
    // Windows ends the process as soon as this returns from a close, a
    // sign-out or a shutdown, or once its own time for it is up: so this
    // returns only when the operator's work is written, however slow the
    // disk, and the system's limit is the only one.
    if (ending)
        WaitForSingleObject(kept_ev, INFINITE);
    return TRUE;
}

void control_open()
{
    stop_ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    kept_ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

void work_kept()
{
    SetEvent(kept_ev);
}

void request(LONG code)
{
    InterlockedCompareExchange(&code_of_stop, code, 0);
    SetEvent(stop_ev);
    // A line read the event interrupted does not return under wine, so the
    // end of input cannot wait for the pump.
    input_cut();
}

bool stopped()
{
    return WaitForSingleObject(stop_ev, 0) == WAIT_OBJECT_0;
}

int stop_code()
{
    return static_cast<int>(InterlockedCompareExchange(&code_of_stop, 0, 0));
}

HANDLE stop_event()
{
    return stop_ev;
}

bool closing()
{
    return InterlockedCompareExchange(&ending_console, 0, 0);
}

void restore_modes()
{
    // A console that is going away may block any call on it.
    if (closing())
        return;
    if (before.in)
        SetConsoleMode(before.in, before.in_was);
    if (before.out)
        SetConsoleMode(before.out, before.out_was);
}

void set_modes(HANDLE in, HANDLE out)
{
    // Ctrl-C reaches the handler even when the parent ignored it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    // Handles of its own: the standard ones close when the runtime's
    // descriptors move onto the pipes.
    if (GetConsoleMode(in, &before.in_was)) {
        before.in = own(in);
        DWORD keep = before.in_was & (ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE);
        SetConsoleMode(in, keep | ENABLE_EXTENDED_FLAGS | ENABLE_PROCESSED_INPUT |
                               ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    }
    if (GetConsoleMode(out, &before.out_was)) {
        before.out = own(out);
        SetConsoleMode(out, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
    }
    std::atexit(restore_modes);
    SetConsoleCtrlHandler(on_control, TRUE);
}

void release_control()
{
    SetConsoleCtrlHandler(on_control, FALSE);
}

HANDLE own(HANDLE h)
{
    HANDLE d = nullptr;
    HANDLE self = GetCurrentProcess();
    return DuplicateHandle(self, h, self, &d, 0, FALSE, DUPLICATE_SAME_ACCESS) ? d : nullptr;
}

void start_deadline()
{
    CloseHandle(CreateThread(nullptr, 0, deadline, nullptr, 0, nullptr));
}
