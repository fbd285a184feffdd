// The console's control handler, called as the system calls it when the
// window closes: it returns only once the operator's work is written, and
// then at once, so the system's own limit is the only one.
#include "console/terminal_control_win32.h"

#include <csignal>
#include <cstdio>
#include <windows.h>

namespace {

int failed;

void check(bool ok, const char* what)
{
    if (!ok) {
        ++failed;
        std::printf("    not so: %s\n", what);
    }
}

DWORD WINAPI close_window(void*)
{
    return on_control(CTRL_CLOSE_EVENT) ? 0 : 1;
}

} // namespace

int main()
{
    control_open();
    HANDLE handler = CreateThread(nullptr, 0, close_window, nullptr, 0, nullptr);
    // Longer than the handler once gave the work: a slow stick, a scanner.
    bool waited = WaitForSingleObject(handler, 6000) == WAIT_TIMEOUT;
    check(stopped() && stop_code() == SIGTERM, "the close did not ask the session to end");
    check(waited, "the handler returned before the work was written");
    work_kept();
    DWORD code = 1;
    bool returned = WaitForSingleObject(handler, 2000) == WAIT_OBJECT_0 && GetExitCodeThread(handler, &code);
    check(returned && code == 0, "the handler did not return once the work was written");
    std::printf("[%s] control.closing_waits_for_the_work\n", failed ? "FAIL" : " OK ");
    return failed ? 1 : 0;
}
