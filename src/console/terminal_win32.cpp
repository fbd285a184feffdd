// Windows console. The program and its data file speak GBK, but a console
// shows bytes in whatever code page it is on: 437 or 65001 as often as 936.
// Its wide-character calls do not depend on the code page, so when a
// standard stream is a console the C runtime's descriptor is moved onto a
// pipe, and threads convert between that pipe and the console's wide calls
// (GB18030 where the system has it, which contains GBK; plain 936 where it
// does not, as under wine). Off a console every byte passes unchanged.
// Pause and clear use the console itself, not the command interpreter: no
// process is started and the texts are the program's own.
#include "console/terminal.h"

#include "console/terminal_text.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

UINT cp = 936;

// A request to end the session: set once, never cleared.
HANDLE stop_ev;
volatile LONG stop_code;
// Set with the request: from then on the dialogue is no longer shown, as a
// console that is closing may block any call on it, and the operator's work
// is written first.
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

std::wstring wide(const char* p, std::size_t n)
{
    std::wstring w(n, L'\0');
    int len = n ? MultiByteToWideChar(cp, 0, p, static_cast<int>(n), w.data(), static_cast<int>(n)) : 0;
    w.resize(len > 0 ? static_cast<std::size_t>(len) : 0);
    return w;
}

void put_wide(HANDLE con, const wchar_t* w, DWORD n)
{
    for (DWORD at = 0, put = 0; at < n; at += put)
        if (!WriteConsoleW(con, w + at, n - at, &put, nullptr) || put == 0)
            return;
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
    std::wstring w = wide(shown.held.data(), len);
    shown.held.erase(0, len);
    put_wide(shown.con, w.data(), static_cast<DWORD>(w.size()));
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

// Waits until what has reached the pipe is on the console.
void wait_shown()
{
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

bool open_output(HANDLE con)
{
    HANDLE wr;
    if (!(shown.con = con) || !CreatePipe(&shown.rd, &wr, nullptr, 1 << 16))
        return false;
    std::fflush(stdout);
    int f = _open_osfhandle(reinterpret_cast<intptr_t>(wr), _O_WRONLY | _O_TEXT);
    if (f < 0 || _dup2(f, 1) != 0)
        return false;
    _close(f);
    shown.kick = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.answered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    shown.thread = CreateThread(nullptr, 0, pump_out, nullptr, 0, nullptr);
    return true;
}

// ---- notices ----------------------------------------------------------

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
    if (con && !InterlockedCompareExchange(&closing, 0, 0) &&
        GetConsoleScreenBufferInfo(con, &i) && i.dwCursorPosition.X != 0)
        put_wide(con, L"\r\n", 2);
}

// Shows the notices written since the last look, from the start of a line.
void show_notices()
{
    std::string text;
    char buf[4096];
    DWORD got;
    while (pending(told.rd) && ReadFile(told.rd, buf, sizeof buf, &got, nullptr))
        text.append(buf, got);
    if (text.empty() || InterlockedCompareExchange(&closing, 0, 0))
        return;
    end_line(told.con);
    std::wstring w = wide(text.data(), text.size());
    put_wide(told.con, w.data(), static_cast<DWORD>(w.size()));
}

// Waits until everything written to out so far is on the console, the
// notices in their place, so the console can be worked on directly.
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

bool open_notices(HANDLE con)
{
    HANDLE wr;
    if (!(told.con = con) || !CreatePipe(&told.rd, &wr, nullptr, 1 << 16))
        return false;
    std::fflush(stderr);
    // Text mode, as on the console: a line ends in CR LF.
    int f = _open_osfhandle(reinterpret_cast<intptr_t>(wr), _O_WRONLY | _O_TEXT);
    if (f < 0 || _dup2(f, 2) != 0)
        return false;
    _close(f);
    return true;
}

// ---- input ----------------------------------------------------------

// Lines are read from the console only when the program asks for an
// answer, so whatever was typed ahead (during a pause, or while the
// program was busy) is echoed by the console after the prompt it answers,
// as if typed there. Answers left over from a line are handed over one at
// a time and shown after their own prompts.
struct input {
    HANDLE con = nullptr;
    HANDLE rd = nullptr;     // our copy of what the runtime reads standard input from
    HANDLE wr = nullptr;     // null once the input has been ended
    HANDLE thread = nullptr;
    HANDLE want = nullptr;   // the program asks for its next answer
    CRITICAL_SECTION ending; // guards wr
    std::string ahead;       // GBK from the console, not handed over yet
    wchar_t half = 0;        // a surrogate cut off at the end of a piece of a line
    bool ended = false;      // the operator ended the input
};

input typed;

void feed(const char* p, std::size_t n)
{
    EnterCriticalSection(&typed.ending);
    for (DWORD put = 0; typed.wr && n > 0; p += put, n -= put)
        if (!WriteFile(typed.wr, p, static_cast<DWORD>(n), &put, nullptr))
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

// Typed text as GBK, the only encoding a value is stored in. A character
// GBK cannot hold becomes 0xFF, which is never part of a GBK character,
// so the answer is refused rather than stored with a '?' in its place.
std::string to_gbk(const wchar_t* w, std::size_t n)
{
    std::string s;
    for (std::size_t k = 0; k < n; ++k) {
        if (IS_HIGH_SURROGATE(w[k]) || IS_LOW_SURROGATE(w[k])) {
            if (IS_HIGH_SURROGATE(w[k]) && k + 1 < n && IS_LOW_SURROGATE(w[k + 1]))
                ++k;
            s += '\xff';
            continue;
        }
        char b[4];
        BOOL lost = FALSE;
        int len = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w + k, 1, b, sizeof b, nullptr, &lost);
        if (len <= 0 || lost)
            s += '\xff';
        else
            s.append(b, static_cast<std::size_t>(len));
    }
    return s;
}

// As the runtime reads a console in text mode: CR LF is a line break, and
// Ctrl-Z ends the input, with whatever follows it.
void add_typed(const wchar_t* w, std::size_t n)
{
    for (char c : to_gbk(w, n)) {
        if (c == '\x1a') {
            typed.ended = true;
            return;
        }
        if (c == '\n' && !typed.ahead.empty() && typed.ahead.back() == '\r')
            typed.ahead.back() = '\n';
        else
            typed.ahead += c;
    }
}

// Reads a line with the console's own editing onto what is ahead; a line
// longer than the buffer comes in pieces. False when the input is over.
bool read_piece()
{
    const DWORD room = 1024;
    wchar_t w[room + 1];
    DWORD keep = typed.half ? 1 : 0;
    w[0] = typed.half;
    typed.half = 0;
    DWORD got = 0;
    if (!ReadConsoleW(typed.con, w + keep, room, &got, nullptr))
        return false;
    // Nothing at all, not even a line break: Ctrl-C cut the line off.
    // Windows also sends the event; wine's console, when its terminal
    // passes Ctrl-C on as a key, only does this.
    if (got == 0) {
        request(SIGINT);
        return false;
    }
    DWORD total = keep + got;
    if (IS_HIGH_SURROGATE(w[total - 1]))
        typed.half = w[--total];
    add_typed(w, total);
    return !typed.ended;
}

bool gap(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

// The end of the first answer in s: past the white space before it, the
// answer and one byte of white space after it, as the program's read takes
// it. npos when no answer ends in s yet.
std::size_t answer_end(const std::string& s)
{
    std::size_t k = 0;
    while (k < s.size() && gap(s[k]))
        ++k;
    while (k < s.size() && !gap(s[k]))
        ++k;
    return k < s.size() ? k + 1 : std::string::npos;
}

// Shows the answer at the start of the n bytes at p after its prompt, as if
// typed there, and ends the line.
void echo(const char* p, std::size_t n)
{
    std::size_t from = 0;
    while (from < n && gap(p[from]))
        ++from;
    std::size_t to = from;
    while (to < n && !gap(p[to]))
        ++to;
    if (to == from)
        return; // white space before the end of input
    std::string text(p + from, to - from);
    mask_shown(text.data(), text.size());
    std::wstring w = wide(text.data(), text.size()) + L"\r\n";
    if (!InterlockedCompareExchange(&dropping, 0, 0))
        put_wide(shown.con, w.data(), static_cast<DWORD>(w.size()));
}

// Hands the program its next answer. False once the input is over.
bool serve()
{
    bool live = false; // the console read it, and echoed it, after the prompt
    std::size_t end;
    while ((end = answer_end(typed.ahead)) == std::string::npos && !typed.ended) {
        if (!read_piece())
            typed.ended = true;
        live = true;
    }
    if (end == std::string::npos)
        end = typed.ahead.size();
    if (!live && shown.con)
        echo(typed.ahead.data(), end);
    feed(typed.ahead.data(), end);
    typed.ahead.erase(0, end);
    if (typed.ended && typed.ahead.empty()) {
        end_input();
        return false;
    }
    return true;
}

DWORD WINAPI pump_in(void*)
{
    HANDLE hs[2] = {stop_ev, typed.want};
    while (WaitForMultipleObjects(2, hs, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 && serve()) {
    }
    end_input();
    return 0;
}

bool open_input(HANDLE con)
{
    HANDLE self = GetCurrentProcess();
    if (!(typed.con = con) || !CreatePipe(&typed.rd, &typed.wr, nullptr, 1 << 16))
        return false;
    HANDLE rd = nullptr;
    if (!DuplicateHandle(self, typed.rd, self, &rd, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return false;
    int f = _open_osfhandle(reinterpret_cast<intptr_t>(rd), _O_RDONLY | _O_BINARY);
    if (f < 0 || _dup2(f, 0) != 0)
        return false;
    _close(f);
    // Unbuffered, so the runtime takes no more than the answer handed over.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    InitializeCriticalSection(&typed.ending);
    typed.want = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    typed.thread = CreateThread(nullptr, 0, pump_in, nullptr, 0, nullptr);
    return typed.thread != nullptr;
}

// ---- the pause ------------------------------------------------------------

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

// What a terminal sends for the press e: its character in UTF-8 (with the
// first half of a surrogate pair, high, when e has the second), after ESC
// when Alt is held.
std::string sent(wchar_t high, const KEY_EVENT_RECORD& e)
{
    wchar_t u[2] = {high, e.uChar.UnicodeChar};
    int n = high ? 2 : 1;
    char b[8];
    int len = WideCharToMultiByte(CP_UTF8, 0, u + 2 - n, n, b, sizeof b, nullptr, nullptr);
    bool alt = e.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
    bool ctrl = e.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
    std::string s = alt && !ctrl ? "\x1b" : "";
    return s.append(b, len > 0 ? static_cast<std::size_t>(len) : 0);
}

// Past the last of the events from r[k], a press, that make one key: both
// halves of a surrogate pair, and the presses wine's console makes of one
// key its terminal sent (an Alt arrow, the Linux console's F1) read back as
// the terminal sent them. 0 when the key may go on in events to come.
DWORD key_end(const INPUT_RECORD* r, DWORD k, DWORD n)
{
    if (r[k].Event.KeyEvent.uChar.UnicodeChar == 0)
        return k + 1;
    std::string bytes;
    wchar_t high = 0;
    for (DWORD i = k; i < n; ++i) {
        if (!is_press(r[i]))
            continue;
        const KEY_EVENT_RECORD& e = r[i].Event.KeyEvent;
        if (e.uChar.UnicodeChar == 0)
            return i; // a named key: whatever came before it was all of the key
        if (IS_HIGH_SURROGATE(e.uChar.UnicodeChar) && !high) {
            high = e.uChar.UnicodeChar;
            continue;
        }
        bytes += sent(IS_LOW_SURROGATE(e.uChar.UnicodeChar) ? high : 0, e);
        high = 0;
        if (key_length(bytes.data(), bytes.size(), false) > 0)
            return i + 1;
    }
    return 0;
}

// Takes the events of the key in r[k, end) out of the console. The first
// old events were typed ahead: they are put back, in their order, for the
// reads after the pause.
void take_key(std::vector<INPUT_RECORD>& r, DWORD old, DWORD k, DWORD end)
{
    for (DWORD i = k; i < end; ++i)
        if (is_press(r[i]) && r[i].Event.KeyEvent.uChar.UnicodeChar == 3)
            request(SIGINT); // Ctrl-C passed on as a key, as by wine
    DWORD got;
    if (old == 0) {
        ReadConsoleInputW(typed.con, r.data(), end, &got);
        return;
    }
    if (!ReadConsoleInputW(typed.con, r.data(), static_cast<DWORD>(r.size()), &got))
        return;
    r.resize(got);
    r.erase(r.begin() + old, r.begin() + end);
    WriteConsoleInputW(typed.con, r.data(), static_cast<DWORD>(r.size()), &got);
}

// Waits for a key press beyond the first old events, which were typed ahead
// and stay for the reads after the pause.
void await_key(DWORD old)
{
    HANDLE hs[2] = {stop_ev, typed.con};
    std::vector<INPUT_RECORD> r;
    bool waited = false;
    for (;;) {
        DWORD n = 0;
        GetNumberOfConsoleInputEvents(typed.con, &n);
        if (n > old) {
            r.resize(n);
            if (!PeekConsoleInputW(typed.con, r.data(), n, &n))
                return;
            r.resize(n);
            DWORD k = old;
            while (k < n && !is_press(r[k]))
                ++k;
            DWORD end = k < n ? key_end(r.data(), k, n) : 0;
            // A key cut short gets a moment for its rest, as on a terminal.
            if (k < n && end == 0 && !waited) {
                waited = true;
                if (WaitForSingleObject(stop_ev, 40) == WAIT_OBJECT_0)
                    return;
                continue;
            }
            if (k < n) {
                take_key(r, old, k, end ? end : n);
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

// Shows what is left, the notices too, and ends the line a prompt or a
// half-typed answer is on, so the shell's prompt starts a line of its own.
void at_end()
{
    settle(stdout);
    end_line(shown.con ? shown.con : told.con);
}

DWORD WINAPI deadline(void*)
{
    Sleep(2000);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return 0;
}

} // namespace

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    stop_ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (IsValidCodePage(54936))
        cp = 54936;
    HANDLE con_in = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE con_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE con_err = GetStdHandle(STD_ERROR_HANDLE);
    set_modes(con_in, con_out);
    SetConsoleCtrlHandler(on_control, TRUE);
    DWORD mode;
    bool err_tty = GetConsoleMode(con_err, &mode);
    in_tty = GetConsoleMode(con_in, &mode);
    out_tty = GetConsoleMode(con_out, &mode);
    // All taken before any descriptor moves: two standard streams may
    // share one handle, which the first move would close.
    HANDLE own_in = in_tty ? own(con_in) : nullptr;
    HANDLE own_out = out_tty ? own(con_out) : nullptr;
    HANDLE own_err = err_tty ? own(con_err) : nullptr;
    if (own_out)
        open_output(own_out);
    if (own_err)
        open_notices(own_err);
    if (own_in)
        open_input(own_in);
    // A normal end of the program shows what is left, and leaves the
    // console on a fresh line.
    std::atexit(at_end);
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
    if (typed.thread)
        SetEvent(typed.want);
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    // Once the session is to end, the console is left alone: the work is
    // written first.
    bool wait = in_tty && typed.thread && !stopped();
    // Counted before the text shows, so that any key pressed once it shows
    // counts and what was typed before stays typed ahead. The console is
    // ours: lines are read only while the program asks for an answer.
    DWORD old = 0;
    if (wait)
        GetNumberOfConsoleInputEvents(typed.con, &old);
    std::fputs(text, out);
    if (wait) {
        settle(out);
        await_key(old);
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
    // The dialogue is dropped once a request has come (request), and
    // notices are not shown on a console that is closing (show_notices);
    // whatever else blocks, a notice on a console whose output is held or
    // standard error on a pipe nobody reads, is cut short here.
    if (stopped())
        CloseHandle(CreateThread(nullptr, 0, deadline, nullptr, 0, nullptr));
}

int term_stopped()
{
    return static_cast<int>(InterlockedCompareExchange(&stop_code, 0, 0));
}

void term_exit(int code)
{
    at_end();
    restore_modes();
    // What the system's own handler does for these events.
    ExitProcess(code ? STATUS_CONTROL_C_EXIT : 0);
}

void term_bytes(std::FILE* out)
{
    std::fflush(out);
    _setmode(_fileno(out), _O_BINARY);
}
