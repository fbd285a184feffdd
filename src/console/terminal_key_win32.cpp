#include "console/terminal_control_win32.h"
#include "console/terminal_input_win32.h"
#include "console/terminal_text.h"
#include "records/codepage_win32.h"

#include <csignal>
#include <string>
#include <vector>

namespace {

// A key the operator pressed: a key-down that gives a character (an input
// method's result arrives so) or a named key. Not Shift, Ctrl, Alt or Win
// alone, nor a key the input method is still composing with, nor a release
// other than Alt's with a character.
bool is_press(const INPUT_RECORD& r)
{
    if (r.EventType != KEY_EVENT)
        return false;
    // An Alt code, and what a console or terminal pastes that way, brings
    // its character with the release of Alt.
    if (!r.Event.KeyEvent.bKeyDown)
        return r.Event.KeyEvent.wVirtualKeyCode == VK_MENU && r.Event.KeyEvent.uChar.UnicodeChar != 0;
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
    bool alt = e.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
    bool ctrl = e.dwControlKeyState & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
    std::string s = alt && !ctrl ? "\x1b" : "";
    return s + narrow(high ? std::wstring_view(u, 2) : std::wstring_view(u + 1, 1));
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

// Every event pending in the console, read out of it.
std::vector<INPUT_RECORD> read_all()
{
    std::vector<INPUT_RECORD> r;
    DWORD got;
    for (DWORD left; GetNumberOfConsoleInputEvents(input_console(), &left) && left > 0;) {
        std::size_t at = r.size();
        r.resize(at + left);
        if (!ReadConsoleInputW(input_console(), r.data() + at, left, &got))
            got = 0;
        r.resize(at + got);
        if (got == 0)
            break;
    }
    return r;
}

// Puts the typed-ahead events back in front of whatever came after the
// pause's key. The console only appends, so what came after is read out
// and written again behind them. Not once the session is to end: the
// input is over, and a console that is closing may block any call.
void put_back(std::vector<INPUT_RECORD> ahead)
{
    if (ahead.empty() || stopped())
        return;
    std::vector<INPUT_RECORD> after = read_all();
    ahead.insert(ahead.end(), after.begin(), after.end());
    DWORD put;
    WriteConsoleInputW(input_console(), ahead.data(), static_cast<DWORD>(ahead.size()), &put);
}

// Looks at what is pending for the pause's key; true when it was there and
// has been taken, with everything before it. Anything else pending is read
// and dropped, so that the console is signalled again only by new input.
bool take_key(std::vector<INPUT_RECORD>& r, bool& waited)
{
    DWORD n = 0;
    GetNumberOfConsoleInputEvents(input_console(), &n);
    r.resize(n);
    if (n == 0 || !PeekConsoleInputW(input_console(), r.data(), n, &n) || n == 0)
        return false;
    DWORD k = 0;
    while (k < n && !is_press(r[k]))
        ++k;
    DWORD end = k < n ? key_end(r.data(), k, n) : 0;
    // A key cut short gets a moment for its rest, as on a terminal.
    if (k < n && end == 0 && !waited) {
        waited = true;
        return false;
    }
    end = end ? end : n;
    for (DWORD i = k; i < end; ++i)
        if (is_press(r[i]) && r[i].Event.KeyEvent.uChar.UnicodeChar == 3)
            request(SIGINT); // Ctrl-C passed on as a key, as by wine
    ReadConsoleInputW(input_console(), r.data(), end, &n);
    return k < end;
}

} // namespace

// The events typed ahead wait outside the console meanwhile: its handle is
// signalled while any event at all is pending, so a wait on it would return
// at once for them, again and again.
void await_key(DWORD old)
{
    std::vector<INPUT_RECORD> ahead(old), r;
    DWORD got = 0;
    if (old > 0 && !ReadConsoleInputW(input_console(), ahead.data(), old, &got))
        got = 0;
    ahead.resize(got);
    bool waited = false;
    HANDLE hs[2] = {stop_event(), input_console()};
    for (;;) {
        bool was_waiting = waited;
        if (take_key(r, waited))
            break;
        DWORD wait = waited && !was_waiting ? 40 : INFINITE;
        if (WaitForMultipleObjects(wait == INFINITE ? 2 : 1, hs, FALSE, wait) == WAIT_OBJECT_0)
            break;
    }
    put_back(ahead);
}
