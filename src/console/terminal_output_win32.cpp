#include "console/terminal_output_win32.h"

#include "console/terminal_control_win32.h"
#include "records/codepage_win32.h"

#include <fcntl.h>
#include <io.h>

namespace {

void put_wide(HANDLE con, std::wstring_view w)
{
    for (DWORD at = 0, put = 0; at < w.size(); at += put)
        if (!WriteConsoleW(con, w.data() + at, static_cast<DWORD>(w.size()) - at, &put, nullptr) || put == 0)
            return;
}

// Moves the runtime's descriptor fd onto a new pipe, whose reading end goes
// to rd: text mode, as on the console, so a line ends in CR LF.
bool onto_pipe(int fd, std::FILE* f, HANDLE& rd)
{
    HANDLE wr;
    if (!CreatePipe(&rd, &wr, nullptr, 1 << 16))
        return false;
    std::fflush(f);
    int d = _open_osfhandle(reinterpret_cast<intptr_t>(wr), _O_WRONLY | _O_TEXT);
    if (d < 0 || _dup2(d, fd) != 0)
        return false;
    _close(d);
    return true;
}

struct output {
    HANDLE con = nullptr;    // the console screen buffer
    HANDLE rd = nullptr;     // what the runtime writes to standard output
    HANDLE thread = nullptr; // moves rd to con
    HANDLE kick = nullptr;   // wakes the thread for a settle
    HANDLE answered = nullptr;
    volatile LONG asked = 0; // settles asked for, and answered
    volatile LONG done = 0;
    std::string held;        // a character cut by a flush
};

output shown;

// Shows what the pipe holds, then answers the settles asked for before
// it looked: everything written before those has then been shown. Nothing
// else wakes this up, so the pipe is looked at every few milliseconds while
// output flows, and less and less often once it has stopped: a program
// waiting at a pause costs next to nothing.
DWORD WINAPI pump_out(void*)
{
    char buf[1 << 14];
    DWORD idle = 10;
    for (;;) {
        WaitForSingleObject(shown.kick, idle);
        idle = idle < 320 ? idle * 2 : idle;
        LONG want = InterlockedCompareExchange(&shown.asked, 0, 0);
        DWORD avail = 0;
        DWORD got = 0;
        bool open;
        while ((open = PeekNamedPipe(shown.rd, nullptr, 0, nullptr, &avail, nullptr)) && avail > 0 &&
               (open = ReadFile(shown.rd, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr))) {
            if (!stopped())
                put_wide(shown.con, gbk_wide(shown.held, buf, got));
            idle = 10;
        }
        InterlockedExchange(&shown.done, want);
        SetEvent(shown.answered);
        if (!open)
            return 0;
    }
}

// Waits until what has reached the pipe is on the console.
void wait_shown()
{
    if (!shown.thread)
        return;
    LONG want = InterlockedIncrement(&shown.asked);
    SetEvent(shown.kick);
    // Once the session is to end, what is not shown yet is dropped.
    HANDLE hs[3] = {shown.answered, shown.thread, stop_event()};
    while (InterlockedCompareExchange(&shown.done, 0, 0) - want < 0)
        if (WaitForMultipleObjects(3, hs, FALSE, INFINITE) != WAIT_OBJECT_0)
            return;
}

// Standard error at a console: the runtime writes notices to a pipe, and
// they are shown, in the dialogue's place among its output, whenever that
// output is settled.
struct notices {
    HANDLE con = nullptr;
    HANDLE rd = nullptr;
};

notices told;

bool pending(HANDLE rd)
{
    DWORD avail = 0;
    return rd && PeekNamedPipe(rd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0;
}

// Ends the line on con, when something is on it, so what follows (a
// notice, the shell's prompt) starts a line of its own. Not on a console
// that is going away, which may block any call.
void end_line(HANDLE con)
{
    CONSOLE_SCREEN_BUFFER_INFO i;
    if (con && !closing() && GetConsoleScreenBufferInfo(con, &i) && i.dwCursorPosition.X != 0)
        put_wide(con, L"\r\n");
}

// Shows the notices written since the last look, from the start of a line.
void show_notices()
{
    std::string text;
    char buf[4096];
    DWORD got;
    while (pending(told.rd) && ReadFile(told.rd, buf, sizeof buf, &got, nullptr))
        text.append(buf, got);
    if (text.empty() || closing())
        return;
    end_line(told.con);
    std::string cut;
    put_wide(told.con, gbk_wide(cut, text.data(), text.size()));
}

} // namespace

bool open_output(HANDLE con)
{
    if (!(shown.con = con) || !onto_pipe(1, stdout, shown.rd))
        return false;
    shown.kick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.thread = CreateThread(nullptr, 0, pump_out, nullptr, 0, nullptr);
    return true;
}

bool open_notices(HANDLE con)
{
    return (told.con = con) && onto_pipe(2, stderr, told.rd);
}

bool showing()
{
    return shown.con != nullptr;
}

void settle(std::FILE* out)
{
    // Whatever came before the notices shows before them; what the program
    // wrote since is still in out's buffer.
    if (pending(told.rd)) {
        wait_shown();
        show_notices();
    }
    std::fflush(out);
    wait_shown();
}

void show_line(const std::string& gbk)
{
    std::string cut;
    if (!stopped())
        put_wide(shown.con, gbk_wide(cut, gbk.data(), gbk.size()) + L"\r\n");
}

void clear_console()
{
    CONSOLE_SCREEN_BUFFER_INFO i;
    if (!GetConsoleScreenBufferInfo(shown.con, &i))
        return;
    DWORD cells = static_cast<DWORD>(i.dwSize.X) * static_cast<DWORD>(i.dwSize.Y);
    DWORD done;
    COORD home{0, 0};
    FillConsoleOutputCharacterW(shown.con, L' ', cells, home, &done);
    FillConsoleOutputAttribute(shown.con, i.wAttributes, cells, home, &done);
    SMALL_RECT top{0, 0, static_cast<SHORT>(i.srWindow.Right - i.srWindow.Left),
                   static_cast<SHORT>(i.srWindow.Bottom - i.srWindow.Top)};
    SetConsoleWindowInfo(shown.con, TRUE, &top);
    SetConsoleCursorPosition(shown.con, home);
}

void output_end()
{
    settle(stdout);
    end_line(shown.con ? shown.con : told.con);
}
