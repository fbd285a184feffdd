// POSIX terminal. The program and its data file speak GBK, like a console
// on code page 936; a Linux terminal speaks UTF-8. When a standard stream
// is a terminal its bytes are converted (records/encoding_posix.h) on the way through, so
// the table keeps GBK bytes (two per Chinese character, which is what the
// listing's column widths count) and files stay compatible with Windows.
// Off a terminal every byte passes unchanged.
//
// This file wires the parts together and holds the pause and the clear:
// the signals and waits (terminal_wait_posix.cpp, with the requests to end
// the session that terminal.h reports), the input
// (terminal_input_posix.cpp) and the output (terminal_output_posix.cpp),
// which meet at the held prompt (terminal_held.h).
#include "console/terminal.h"

#include "console/lineedit.h"
#include "console/terminal_held.h"
#include "console/terminal_input_posix.h"
#include "console/terminal_output_posix.h"
#include "console/terminal_text.h"
#include "console/terminal_wait_posix.h"
#include "records/encoding_posix.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long a pause waits for the rest of a paste before it shows: a paste
// larger than the terminal's buffer arrives in pieces.
const int quiet_ms = 40;

// Whether the terminal speaks GBK itself rather than UTF-8.
bool gb_terminal = false;

// Whether standard output was closed when the program started (it is
// /dev/null since).
bool out_closed = false;

// Reads the rest of a key whose bytes come in pieces (over a slow line):
// it is still one key; ESC alone is the Esc key once nothing follows it.
// Returns the key's length in key[0, n).
std::size_t whole_key(char* key, std::size_t& n, std::size_t size)
{
    std::size_t k;
    while ((k = key_length(key, n, gb_terminal)) == 0 && n < size && wait_input(quiet_ms)) {
        ssize_t got = ::read(0, key + n, size - n);
        if (got <= 0)
            break;
        n += static_cast<std::size_t>(got);
    }
    return k == 0 ? n : k;
}

// Sets up the terminal's own line mode to read answers.
void line_mode()
{
    // It erases whole UTF-8 characters only with IUTF8; without it
    // Backspace leaves half a character in the answer.
    if (!gb_terminal)
        erase_utf8();
}

// Loads the line editor once the first answer is awaited, so the screen
// before it (the menu) shows first and a session that awaits none (an
// export at a terminal) never loads it: the library and those it brings
// take longer to load than all the rest of a start. Without it the
// terminal's own line mode reads the answers, the held prompt shown.
bool editor()
{
    if (edit_open()) {
        catch_resize();
        return true;
    }
    hold_nothing();
    line_mode();
    return false;
}

// Waits for the pause's key and sets aside what came with it (a paste)
// like typed-ahead answers. Stopped and continued, the pause shows again.
void pause_wait(std::FILE* out, const char* text)
{
    waited w;
    while ((w = wait_key()) == waited::resized || w == waited::continued) {
        if (w == waited::continued) {
            // Over itself, when the stop was discarded (no shell to stop for).
            std::fputs("\r", out);
            std::fputs(text, out);
            std::fflush(out);
            show_held();
        }
    }
    char key[256];
    // A request to end the session, or a terminal that is gone, ends the
    // wait at once.
    ssize_t got = w == waited::stop ? 0 : ::read(0, key, sizeof key);
    if (got <= 0) {
        input_ended();
        return;
    }
    std::size_t n = static_cast<std::size_t>(got);
    std::size_t k = whole_key(key, n, sizeof key);
    set_aside(key + k, n - k);
}

} // namespace

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    // A standard stream that was closed is /dev/null, so no file the
    // program opens later is taken for the dialogue.
    out_closed = ::fcntl(1, F_GETFD) < 0;
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) != fd)
            std::_Exit(125);
    in_tty = ::isatty(0);
    out_tty = ::isatty(1);
    catch_signals();
    gb_terminal = (in_tty || out_tty) && gbk_locale();
    keep_mode();
    // Answers are edited only where the editor's echo and its prompt show
    // on the same terminal.
    bool editing = in_tty && out_tty;
    // Input is always read through here, so that a signal can end a wait for
    // it, and at a terminal so that a pause can set typed-ahead answers aside.
    std::FILE* f = input_stream(in_tty, in_tty && !gb_terminal, editing ? editor : nullptr);
    in = f ? f : stdin;
    if (editing) {
        echo_answers(!gb_terminal);
        std::atexit(end_line);
        std::atexit(show_held);
    } else {
        line_mode();
    }
    // Output always goes through here, so a signal can cut it short.
    out = output_stream(stdout, out_tty && !gb_terminal, editing);
    // A terminal's output is held back until input is awaited, like a pipe's.
    std::setvbuf(out, nullptr, _IOFBF, BUFSIZ);
}

std::FILE* term_err()
{
    return ::isatty(2) && !gbk_locale() ? notice_stream() : stderr;
}

void term_ask(std::FILE* out)
{
    // The reads show answers typed ahead themselves (terminal_input_posix.cpp).
    std::fflush(out);
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    std::fflush(out);
    termios saved_mode;
    bool waits = in_tty && ::tcgetattr(0, &saved_mode) == 0;
    if (waits) {
        // Everything typed or pasted before the pause shows is set aside for
        // the reads after it: whole lines (and the rest of a paste still on its
        // way) first, then, out of line mode, a line not yet ended. Ctrl-C,
        // Ctrl-\ and Ctrl-Z keep their meaning here, as at any prompt.
        // A terminal with no end-of-input key has no byte that means it.
        int eof = saved_mode.c_cc[VEOF] == _POSIX_VDISABLE ? -1 : saved_mode.c_cc[VEOF];
        set_aside(quiet_ms, eof);
        termios raw_mode = saved_mode;
        raw_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw_mode.c_cc[VMIN] = 1;
        raw_mode.c_cc[VTIME] = 0;
        ::tcsetattr(0, TCSANOW, &raw_mode);
        set_aside(0, eof);
    }
    // A stop before the pause shows is no reason to show it again; one
    // from the moment it shows is.
    forget_continued();
    std::fputs(text, out);
    std::fflush(out);
    show_held();
    if (waits) {
        // Even after an end of input typed ahead, the pause waits for its key.
        pause_wait(out, text);
        ::tcsetattr(0, TCSANOW, &saved_mode);
    }
    std::fputc('\n', out);
}

void term_clear(std::FILE* out, bool out_tty)
{
    if (out_tty)
        std::fputs("\x1b[H\x1b[2J\x1b[3J", out);
}

void term_exit(int code)
{
    end_line();
    restore_mode();
    // The dialogue was dropped when the request came (the output's
    // write_all), so no held prompt is shown now.
    ::signal(code, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, code);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(code);
    std::_Exit(128 + code);
}

bool term_bytes(std::FILE* out)
{
    return out != stdout || !out_closed;
}
