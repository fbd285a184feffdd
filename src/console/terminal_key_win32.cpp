// The pause takes its key straight from the console's input events, and
// leaves every event typed before it for the reads after it.
#include "console/terminal_key_win32.h"

#include "console/terminal_control_win32.h"
#include "console/terminal_input_win32.h"
#include "console/terminal_text.h"

#include <csignal>
#include <string>
#include <vector>

namespace {

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
        ReadConsoleInputW(input_console(), r.data(), end, &got);
        return;
    }
    if (!ReadConsoleInputW(input_console(), r.data(), static_cast<DWORD>(r.size()), &got))
        return;
    r.resize(got);
    r.erase(r.begin() + old, r.begin() + end);
    WriteConsoleInputW(input_console(), r.data(), static_cast<DWORD>(r.size()), &got);
}

} // namespace

// Waits for a key press beyond the first old events, which were typed ahead
// and stay for the reads after the pause.
void await_key(DWORD old)
{
    HANDLE hs[2] = {stop_event(), input_console()};
    std::vector<INPUT_RECORD> r;
    bool waited = false;
    for (;;) {
        DWORD n = 0;
        GetNumberOfConsoleInputEvents(input_console(), &n);
        if (n > old) {
            r.resize(n);
            if (!PeekConsoleInputW(input_console(), r.data(), n, &n))
                return;
            r.resize(n);
            DWORD k = old;
            while (k < n && !is_press(r[k]))
                ++k;
            DWORD end = k < n ? key_end(r.data(), k, n) : 0;
            // A key cut short gets a moment for its rest, as on a terminal.
            if (k < n && end == 0 && !waited) {
                waited = true;
                if (WaitForSingleObject(stop_event(), 40) == WAIT_OBJECT_0)
                    return;
                continue;
            }
            if (k < n) {
                take_key(r, old, k, end ? end : n);
                return;
            }
            if (old == 0) // nothing to keep: drop the releases, or they keep waking this
                ReadConsoleInputW(input_console(), r.data(), n, &n);
        }
        // Typed-ahead events keep the console signalled, so then it is polled.
        if (WaitForMultipleObjects(2, hs, FALSE, old ? 20 : INFINITE) == WAIT_OBJECT_0)
            return;
    }
}
