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

bool term_sync(std::FILE* f)
{
    return _commit(_fileno(f)) == 0;
}

bool term_replace(const char* from, const char* to)
{
    // C's rename refuses to replace an existing file here.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int term_stopped()
{
    return 0;
}

void term_exit(int code)
{
    std::exit(code);
}
