// Windows console. Its code page 936 displays GBK as it is, so nothing is
// converted; pause and clear are the command interpreter's own.
#include "console/terminal.h"

#include <cstdlib>
#include <io.h>
#include <windows.h>

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    in = stdin;
    out = stdout;
    // Held back until input is awaited, as on POSIX.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 14);
    in_tty = _isatty(0);
    out_tty = _isatty(1);
}

std::FILE* term_err()
{
    return stderr;
}

void term_pause(std::FILE* out, bool, const char*)
{
    std::fflush(out);
    std::system("pause");
}

void term_clear(std::FILE* out, bool)
{
    std::fflush(out);
    std::system("cls");
}

int term_stopped()
{
    return 0;
}

void term_exit(int code)
{
    std::exit(code);
}
