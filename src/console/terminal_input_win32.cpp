// Lines are read from the console only when the program asks for an
// answer, so whatever was typed ahead (during a pause, or while the
// program was busy) is echoed by the console after the prompt it answers,
// as if typed there. Answers left over from a line are handed over one at
// a time and shown after their own prompts.
#include "console/terminal_input_win32.h"

#include "console/terminal_control_win32.h"
#include "console/terminal_output_win32.h"
#include "console/terminal_text.h"
#include "records/codepage_win32.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace {

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

// As the runtime reads a console in text mode: CR LF is a line break, and
// Ctrl-Z ends the input, with whatever follows it. Typed text is taken as
// GBK, the only encoding a value is stored in, converted as output and files
// are. A character GBK cannot hold becomes 0xFF, which is never part of a
// GBK character, so the answer is refused rather than stored with a '?' in
// its place.
void add_typed(const wchar_t* w, std::size_t n)
{
    for (char c : wide_gbk(std::wstring_view(w, n), '\xff')) {
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

// The end of the first answer in s: past the white space before it, the
// answer and one byte of white space after it, as the program's read takes
// it. npos when no answer ends in s yet.
std::size_t answer_end(const std::string& s)
{
    std::size_t k = first_answer(s.data(), s.size()).to;
    return k < s.size() ? k + 1 : std::string::npos;
}

// Shows the answer at the start of the n bytes at p after its prompt, as if
// typed there, and ends the line.
void echo(const char* p, std::size_t n)
{
    answer_at a = first_answer(p, n);
    if (a.to == a.from)
        return; // white space before the end of input
    std::string text(p + a.from, a.to - a.from);
    mask_shown(text.data(), text.size());
    show_line(text);
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
    if (!live && showing())
        echo(typed.ahead.data(), end);
    feed(typed.ahead.data(), end);
    typed.ahead.erase(0, end);
    return !typed.ended || !typed.ahead.empty(); // the pump then ends the input
}

DWORD WINAPI pump_in(void*)
{
    HANDLE hs[2] = {stop_event(), typed.want};
    while (WaitForMultipleObjects(2, hs, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 && serve()) {
    }
    end_input();
    return 0;
}

} // namespace

bool open_input(HANDLE con)
{
    if (!(typed.con = con) || !CreatePipe(&typed.rd, &typed.wr, nullptr, 1 << 16))
        return false;
    HANDLE rd = own(typed.rd);
    if (!rd)
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

bool reading()
{
    return typed.thread != nullptr;
}

HANDLE input_console()
{
    return typed.con;
}

void want_answer()
{
    SetEvent(typed.want);
}

void input_cut()
{
    if (typed.thread)
        end_input();
}
