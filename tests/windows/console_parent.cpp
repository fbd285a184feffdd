// Starts a program in this console the way a parent that changed the
// console would: input without line editing, echo or Ctrl-C processing,
// and Ctrl-C ignored, which the child inherits. Each time a file named
// "inject" appears in the current folder, it puts input events that are no
// key press into the console (a lone Shift, releases, focus, mouse, resize,
// a key an input method is composing with), or an Alt code when the file
// says "alt", and then creates "injected".
// At the end it says how the program ended and whether the console's input
// mode is the one it set.
//
// Usage: console_parent.exe PROGRAM.exe
#include <cstdio>
#include <string>
#include <windows.h>

namespace {

INPUT_RECORD key(WORD vk, bool down, wchar_t ch = 0)
{
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.uChar.UnicodeChar = ch;
    return r;
}

void inject(HANDLE in)
{
    INPUT_RECORD r[8] = {key(VK_SHIFT, true), key(VK_SHIFT, false), key('X', false, L'x'),
                         key(VK_PROCESSKEY, true), key(VK_CONTROL, true), key(VK_CONTROL, false)};
    r[6].EventType = FOCUS_EVENT;
    r[6].Event.FocusEvent.bSetFocus = TRUE;
    r[7].EventType = MOUSE_EVENT;
    r[7].Event.MouseEvent.dwEventFlags = MOUSE_MOVED;
    DWORD put;
    WriteConsoleInputW(in, r, 8, &put);
    INPUT_RECORD size{};
    size.EventType = WINDOW_BUFFER_SIZE_EVENT;
    size.Event.WindowBufferSizeEvent.dwSize = {100, 40};
    WriteConsoleInputW(in, &size, 1, &put);
}

// Alt+0183 on the numeric keypad: only the release of Alt brings the
// character.
void inject_alt_code(HANDLE in)
{
    INPUT_RECORD r[10] = {key(VK_MENU, true)};
    int k = 1;
    for (WORD vk : {VK_NUMPAD0, VK_NUMPAD1, VK_NUMPAD8, VK_NUMPAD3}) {
        r[k++] = key(vk, true);
        r[k++] = key(vk, false);
    }
    r[k++] = key(VK_MENU, false, 0x00b7);
    DWORD put;
    WriteConsoleInputW(in, r, static_cast<DWORD>(k), &put);
}

// What the file "inject" asks for: "alt" for an Alt code, else events that
// are no key press.
bool alt_asked()
{
    char what[8] = {};
    std::FILE* f = std::fopen("inject", "rb");
    bool alt = f && std::fread(what, 1, 3, f) == 3 && std::string(what) == "alt";
    if (f)
        std::fclose(f);
    return alt;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const DWORD raw = ENABLE_EXTENDED_FLAGS;
    SetConsoleMode(in, raw);
    DWORD set = 0;
    GetConsoleMode(in, &set);
    SetConsoleCtrlHandler(nullptr, TRUE);
    std::string cmd = "\"" + std::string(argv[1]) + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return 3;
    while (WaitForSingleObject(pi.hProcess, 20) == WAIT_TIMEOUT)
        if (GetFileAttributesA("inject") != INVALID_FILE_ATTRIBUTES) {
            if (alt_asked())
                inject_alt_code(in);
            else
                inject(in);
            DeleteFileA("inject");
            CloseHandle(CreateFileA("injected", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        }
    DWORD code = 0, now = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    GetConsoleMode(in, &now);
    std::printf("exit=%lx\ninput-mode-%s=%lx/%lx\n", code, now == set ? "kept" : "changed", set, now);
    std::fflush(stdout);
    return 0;
}
