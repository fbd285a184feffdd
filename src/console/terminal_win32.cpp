// Windows console. Its code page 936 displays GBK as it is, so nothing is
// converted; pause and clear are the command interpreter's own.
#include "console/terminal.h"

#include <cstdlib>
#include <io.h>
#include <iostream>

void term_open(std::istream*& in, std::ostream*& out, bool& in_tty, bool& out_tty)
{
    std::ios::sync_with_stdio(false);
    in = &std::cin;
    out = &std::cout;
    in_tty = _isatty(0);
    out_tty = _isatty(1);
}

void term_pause(std::ostream& out, bool, std::string_view)
{
    out.flush();
    std::system("pause");
}

void term_clear(std::ostream& out, bool)
{
    out.flush();
    std::system("cls");
}

bool term_sync(std::FILE* f)
{
    return _commit(_fileno(f)) == 0;
}
