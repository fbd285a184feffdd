// Windows console. The program and its data file speak GBK, but a console
// shows bytes in whatever code page it is on: 437 or 65001 as often as 936.
// Its wide-character calls do not depend on the code page, so when a
// standard stream is a console the C runtime's descriptor is moved onto a
// pipe, and a thread converts between that pipe and the console's wide
// calls (GB18030 where the system has it, which contains GBK; plain 936
// where it does not, as under wine). Off a console every byte passes
// unchanged. Pause and clear use the console itself, not the command
// interpreter: no process is started and the texts are the program's own.
#include "console/terminal.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

UINT cp = 936;
bool err_tty; // standard error is the console itself

// A request to end the session: set once, never cleared.
HANDLE stop_ev;
volatile LONG stop_code;
// Set with the request: from then on nothing more is shown, as a console
// that is closing may block any call on it, and the operator's work is
// written first.
volatile LONG dropping;
volatile LONG closing; // the window, the session or the system is ending

void request(LONG code);

bool stopped()
{
    return WaitForSingleObject(stop_ev, 0) == WAIT_OBJECT_0;
}

// How much of [p, p + n) is whole characters: a lead byte cut off at the
// end, or the start of a four-byte GB18030 sequence, waits for the rest.
std::size_t whole(const unsigned char* p, std::size_t n)
{
    std::size_t k = 0;
    while (k < n) {
        if (p[k] < 0x81 || p[k] == 0xff) {
            ++k;
            continue;
        }
        if (k + 1 >= n)
            break;
        std::size_t len = cp == 54936 && p[k + 1] >= 0x30 && p[k + 1] <= 0x39 ? 4 : 2;
        if (k + len > n)
            break;
        k += len;
    }
    return k;
}

// A console handle of our own: moving the descriptor closes the one the
// runtime held.
HANDLE own(HANDLE h)
{
    HANDLE d = nullptr;
    HANDLE self = GetCurrentProcess();
    return DuplicateHandle(self, h, self, &d, 0, FALSE, DUPLICATE_SAME_ACCESS) ? d : nullptr;
}

// ---- output ---------------------------------------------------------

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

void show(const char* p, std::size_t n)
{
    if (InterlockedCompareExchange(&dropping, 0, 0))
        return;
    shown.held.append(p, n);
    const auto* b = reinterpret_cast<const unsigned char*>(shown.held.data());
    std::size_t len = whole(b, shown.held.size());
    if (len == 0)
        return;
    std::vector<wchar_t> w(len);
    int wn = MultiByteToWideChar(cp, 0, shown.held.data(), static_cast<int>(len), w.data(),
                                 static_cast<int>(len));
    shown.held.erase(0, len);
    for (DWORD at = 0, put = 0; wn > 0 && at < static_cast<DWORD>(wn); at += put)
        if (!WriteConsoleW(shown.con, w.data() + at, static_cast<DWORD>(wn) - at, &put, nullptr) ||
            put == 0)
            return;
}

// Shows what the pipe holds, then answers the settles asked for before
// it looked: everything written before those has then been shown. An idle
// pipe is looked at every few milliseconds, as nothing else wakes this up.
DWORD WINAPI pump_out(void*)
{
    char buf[1 << 14];
    for (;;) {
        WaitForSingleObject(shown.kick, 10);
        LONG want = InterlockedCompareExchange(&shown.asked, 0, 0);
        DWORD avail = 0;
        bool open;
        while ((open = PeekNamedPipe(shown.rd, nullptr, 0, nullptr, &avail, nullptr)) && avail > 0) {
            DWORD got = 0;
            if (!ReadFile(shown.rd, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr)) {
                open = false;
                break;
            }
            show(buf, got);
        }
        InterlockedExchange(&shown.done, want);
        SetEvent(shown.answered);
        if (!open)
            return 0;
    }
}

// Waits until everything written to out so far is on the console, so the
// console can be worked on directly.
void settle(std::FILE* out)
{
    std::fflush(out);
    if (!shown.thread)
        return;
    LONG want = InterlockedIncrement(&shown.asked);
    SetEvent(shown.kick);
    // Once the session is to end, what is not shown yet is dropped.
    HANDLE hs[3] = {shown.answered, shown.thread, stop_ev};
    while (InterlockedCompareExchange(&shown.done, 0, 0) - want < 0)
        if (WaitForMultipleObjects(3, hs, FALSE, INFINITE) != WAIT_OBJECT_0)
            return;
}

void settle_stdout()
{
    settle(stdout);
}

bool open_output(HANDLE con)
{
    HANDLE wr;
    if (!(shown.con = own(con)) || !CreatePipe(&shown.rd, &wr, nullptr, 1 << 16))
        return false;
    std::fflush(stdout);
    int f = _open_osfhandle(reinterpret_cast<intptr_t>(wr), _O_WRONLY | _O_TEXT);
    if (f < 0 || _dup2(f, 1) != 0)
        return false;
    _close(f);
    shown.kick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.thread = CreateThread(nullptr, 0, pump_out, nullptr, 0, nullptr);
    // A normal end of the program shows what is left before the thread goes.
    std::atexit(settle_stdout);
    return true;
}

// ---- input ----------------------------------------------------------

struct input {
    HANDLE con = nullptr;
    HANDLE rd = nullptr;     // our copy of what the runtime reads standard input from
    HANDLE wr = nullptr;     // null once the input has been ended
    HANDLE thread = nullptr;
    CRITICAL_SECTION taking; // held by whoever takes events from the console
    CRITICAL_SECTION ending; // guards wr
    volatile LONG in_line = 0; // the pump waits for the operator to end a line
};

input typed;

void feed(const char* p, DWORD n)
{
    EnterCriticalSection(&typed.ending);
    for (DWORD put = 0; typed.wr && n > 0; p += put, n -= put)
        if (!WriteFile(typed.wr, p, n, &put, nullptr))
            break;
    LeaveCriticalSection(&typed.ending);
}

// The program then reads the end of input; what was typed ahead and is
// still in the pipe is dropped with it.
void end_input()
{
    EnterCriticalSection(&typed.ending);
    if (typed.wr) {
        CloseHandle(typed.wr);
        typed.wr = nullptr;
        char buf[4096];
        DWORD avail = 0;
        DWORD got;
        while (PeekNamedPipe(typed.rd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
               ReadFile(typed.rd, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr)) {
        }
    }
    LeaveCriticalSection(&typed.ending);
}

void feed_wide(const wchar_t* w, int n)
{
    if (n <= 0)
        return;
    std::string s(4 * static_cast<std::size_t>(n), '\0');
    int len = WideCharToMultiByte(cp, 0, w, n, s.data(), static_cast<int>(s.size()), nullptr, nullptr);
    if (len > 0)
        feed(s.data(), static_cast<DWORD>(len));
}

// One line with the console's own editing. A line longer than the buffer
// comes in pieces, and a surrogate pair cut between two waits for its half.
void read_line()
{
    const DWORD room = 1024;
    wchar_t w[room + 1];
    DWORD keep = 0;
    DWORD got;
    do {
        got = 0;
        // Set only while the operator types: once the line is fed, the
        // program may reach a pause before this thread lets go.
        InterlockedExchange(&typed.in_line, 1);
        BOOL ok = ReadConsoleW(typed.con, w + keep, room, &got, nullptr);
        InterlockedExchange(&typed.in_line, 0);
        if (!ok)
            return;
        // Nothing at all, not even a line break: Ctrl-C cut the line off.
        // Windows also sends the event; wine's console, when its terminal
        // passes Ctrl-C on as a key, only does this.
        if (got == 0 && keep == 0) {
            request(SIGINT);
            return;
        }
        DWORD total = keep + got;
        wchar_t last = w[total - 1];
        keep = got == room && IS_HIGH_SURROGATE(last) ? 1 : 0;
        feed_wide(w, static_cast<int>(total - keep));
        w[0] = last;
        if (last == L'\n')
            return;
    } while (got == room && !stopped());
}

// A key the operator pressed: a key-down that gives a character (an input
// method's result arrives so) or a named key. Not Shift, Ctrl, Alt or Win
// alone, nor a key the input method is still composing with, nor a release.
bool is_press(const INPUT_RECORD& r)
{
    if (r.EventType != KEY_EVENT || !r.Event.KeyEvent.bKeyDown)
        return false;
    if (r.Event.KeyEvent.uChar.UnicodeChar != 0)
        return true;
    WORD vk = r.Event.KeyEvent.wVirtualKeyCode;
    return (vk >= VK_PRIOR && vk <= VK_DOWN) || vk == VK_INSERT || vk == VK_DELETE ||
           (vk >= VK_F1 && vk <= VK_F24) || vk == VK_ESCAPE || vk == VK_RETURN ||
           vk == VK_BACK || vk == VK_TAB;
}

// 1 when a key press is the next event, 0 when nothing is waiting, -1 on
// an error. Events before it (releases, modifiers alone, focus, mouse) are
// dropped: a line read would drop them too, and none of them starts one.
int next_press()
{
    INPUT_RECORD r;
    DWORD n;
    while (PeekConsoleInputW(typed.con, &r, 1, &n)) {
        if (n == 0)
            return 0;
        if (is_press(r))
            return 1;
        if (!ReadConsoleInputW(typed.con, &r, 1, &n))
            break;
    }
    return -1;
}

// Reads a line whenever the operator starts typing one, so the console's
// line editing works as usual, but leaves the console alone while a pause
// holds it.
DWORD WINAPI pump_in(void*)
{
    HANDLE hs[2] = {stop_ev, typed.con};
    int next = 0;
    while (next >= 0 && WaitForMultipleObjects(2, hs, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        EnterCriticalSection(&typed.taking);
        next = next_press();
        if (next > 0)
            read_line();
        LeaveCriticalSection(&typed.taking);
        if (next == 0)
            Sleep(10); // woken with nothing to read
    }
    end_input();
    return 0;
}

bool open_input(HANDLE con)
{
    HANDLE self = GetCurrentProcess();
    if (!(typed.con = own(con)) || !CreatePipe(&typed.rd, &typed.wr, nullptr, 1 << 16))
        return false;
    HANDLE rd = nullptr;
    if (!DuplicateHandle(self, typed.rd, self, &rd, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    // Text mode, like a console: CR LF becomes LF, and Ctrl-Z ends the input.
    int f = _open_osfhandle(reinterpret_cast<intptr_t>(rd), _O_RDONLY | _O_TEXT);
    if (f < 0 || _dup2(f, 0) != 0)
        return false;
    _close(f);
    // Unbuffered, so that once the session is asked to end nothing typed
    // ahead is left in the runtime to read.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    InitializeCriticalSection(&typed.taking);
    InitializeCriticalSection(&typed.ending);
    typed.thread = CreateThread(nullptr, 0, pump_in, nullptr, 0, nullptr);
    return typed.thread != nullptr;
}

// Waits for a key press beyond the first old events, which were typed ahead
// and stay for the reads after the pause.
void await_key(DWORD old)
{
    HANDLE hs[2] = {stop_ev, typed.con};
    std::vector<INPUT_RECORD> r;
    for (;;) {
        DWORD n = 0;
        GetNumberOfConsoleInputEvents(typed.con, &n);
        if (n > old) {
            r.resize(n);
            if (!PeekConsoleInputW(typed.con, r.data(), n, &n))
                return;
            for (DWORD k = old; k < n; ++k)
                if (is_press(r[k])) {
                    if (r[k].Event.KeyEvent.uChar.UnicodeChar == 3)
                        request(SIGINT); // Ctrl-C passed on as a key, as by wine
                    DWORD got;
                    ReadConsoleInputW(typed.con, r.data(), k + 1, &got);
                    if (old > 0)
                        WriteConsoleInputW(typed.con, r.data(), old, &got);
                    return;
                }
            if (old == 0) // nothing to keep: drop the releases, or they keep waking this
                ReadConsoleInputW(typed.con, r.data(), n, &n);
        }
        // Typed-ahead events keep the console signalled, so then it is polled.
        if (WaitForMultipleObjects(2, hs, FALSE, old ? 20 : INFINITE) == WAIT_OBJECT_0)
            return;
    }
}

// Takes the console once the pump has read its line; false when the
// session is asked to end first.
bool grab()
{
    while (!TryEnterCriticalSection(&typed.taking))
        if (WaitForSingleObject(stop_ev, 10) == WAIT_OBJECT_0)
            return false;
    return true;
}

// ---- control events ---------------------------------------------------

void request(LONG code)
{
    InterlockedCompareExchange(&stop_code, code, 0);
    InterlockedExchange(&dropping, 1);
    SetEvent(stop_ev);
    // A line read the event interrupted does not return under wine, so the
    // end of input cannot wait for the pump.
    if (typed.thread)
        end_input();
}

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
        InterlockedExchange(&closing, 1);
    request(code);
    // Windows ends the process as soon as this returns from a close, a
    // sign-out or a shutdown (or some five seconds after): wait for the
    // session to write the operator's work and end the process itself in
    // term_exit.
    if (ending)
        Sleep(4000);
    return TRUE;
}

// ---- console modes ------------------------------------------------------

// The modes the console had before, put back at the end: a parent's modes
// (no line input, no Ctrl-C) are not this program's.
struct modes {
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    DWORD in_was = 0;
    DWORD out_was = 0;
};

modes before;

void restore_modes()
{
    // A console that is going away may block any call on it.
    if (InterlockedCompareExchange(&closing, 0, 0))
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
}

} // namespace

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    stop_ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (IsValidCodePage(54936))
        cp = 54936;
    HANDLE con_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE con_out = GetStdHandle(STD_OUTPUT_HANDLE);
    set_modes(con_in, con_out);
    SetConsoleCtrlHandler(on_control, TRUE);
    DWORD mode;
    err_tty = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode);
    in_tty = GetConsoleMode(con_in, &mode);
    out_tty = GetConsoleMode(con_out, &mode);
    if (out_tty)
        open_output(con_out);
    if (in_tty)
        open_input(con_in);
    in = stdin;
    out = stdout;
    // Held back until input is awaited, as on POSIX.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 14);
}

std::FILE* term_err()
{
    return stderr;
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    // Once the session is to end, the console is left alone: the work is
    // written first.
    bool wait = in_tty && typed.thread && !stopped();
    // The console is taken before the text shows, so that any key pressed
    // once it shows counts and what was typed before stays typed ahead.
    // Unless the operator is halfway through typing a line ahead: then the
    // Enter that ends it is the key.
    bool held = false;
    while (wait && !(held = TryEnterCriticalSection(&typed.taking)) && !typed.in_line)
        Sleep(1);
    DWORD old = 0;
    if (held)
        GetNumberOfConsoleInputEvents(typed.con, &old);
    std::fputs(text, out);
    if (wait) {
        settle(out);
        if (held)
            await_key(old);
        else
            held = grab();
        if (held)
            LeaveCriticalSection(&typed.taking);
    }
    std::fputc('\n', out);
}

void term_clear(std::FILE* out, bool out_tty)
{
    if (!out_tty || !shown.con || stopped())
        return;
    settle(out);
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

void term_deadline()
{
    // Output to the console is dropped once a request has come (request);
    // notices to it are dropped too, so nothing before the work is kept,
    // and nothing after it, waits on a console that may be closing.
    if (!stopped() || !err_tty)
        return;
    std::fflush(stderr);
    int nul = _open("NUL", _O_WRONLY);
    if (nul >= 0) {
        _dup2(nul, 2);
        _close(nul);
    }
}

int term_stopped()
{
    return static_cast<int>(InterlockedCompareExchange(&stop_code, 0, 0));
}

void term_exit(int code)
{
    settle(stdout);
    restore_modes();
    // What the system's own handler does for these events.
    ExitProcess(code ? STATUS_CONTROL_C_EXIT : 0);
}
