// POSIX terminal. The program and its data file speak GBK, like a console
// on code page 936; a Linux terminal speaks UTF-8. When a standard stream
// is a terminal its bytes are converted with iconv on the way through, so
// the table keeps GBK bytes (two per Chinese character, which is what the
// listing's column widths count) and files stay compatible with Windows.
// Off a terminal every byte passes unchanged.
#include "console/terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

bool write_all(int fd, const char* p, std::size_t len)
{
    while (len > 0) {
        ssize_t w = ::write(fd, p, len);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return true;
}

// Converts as much of [p, p + len) as forms whole characters into dst
// (room bytes), advancing p and len. Bytes that are not valid input are
// passed on unchanged, so nothing the operator typed is lost; a character
// cut off at the end waits for its rest. Returns the bytes written.
std::size_t convert(iconv_t cd, const char*& p, std::size_t& len, char* dst, std::size_t room)
{
    char* o = dst;
    while (len > 0 && room > 0) {
        char* ip = const_cast<char*>(p);
        std::size_t r = iconv(cd, &ip, &len, &o, &room);
        p = ip;
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG || errno == EINVAL)
            break;
        *o++ = *p++; // EILSEQ
        --len;
        --room;
    }
    return static_cast<std::size_t>(o - dst);
}

// What the terminal gives, converted, and not yet handed to the reader.
struct input {
    iconv_t cd = none;
    char raw[1024];
    std::size_t rawlen = 0;
    char ready[4 * sizeof raw];
    std::size_t pos = 0;
    std::size_t len = 0;
    bool ended = false; // the terminal said end of input, maybe while set aside

    bool room() const { return len - pos + 2 * sizeof raw <= sizeof ready; }

    // Reads once from the terminal and converts what came. False at the
    // end of input or on a read error.
    bool more()
    {
        std::memmove(ready, ready + pos, len - pos);
        len -= pos;
        pos = 0;
        ssize_t r;
        do
            r = ::read(0, raw + rawlen, sizeof raw - rawlen);
        while (r < 0 && errno == EINTR);
        if (r <= 0) {
            ended = true;
            // A cut-off character at the very end is passed on as it is.
            std::memcpy(ready + len, raw, rawlen);
            len += rawlen;
            rawlen = 0;
            return false;
        }
        rawlen += static_cast<std::size_t>(r);
        const char* p = raw;
        std::size_t left = rawlen;
        if (cd == none) {
            std::memcpy(ready + len, raw, rawlen);
            len += rawlen;
            left = 0;
        } else {
            len += convert(cd, p, left, ready + len, sizeof ready - len);
        }
        std::memmove(raw, p, left);
        rawlen = left;
        return true;
    }

    // Moves whatever the terminal already holds in here without waiting,
    // so a key read straight from the terminal takes only a key pressed
    // from now on.
    void take_pending()
    {
        pollfd pfd{0, POLLIN, 0};
        while (!ended && room() && ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) && more()) {
        }
    }
};

input typed;

ssize_t read_typed(void*, char* buf, std::size_t size)
{
    while (typed.pos == typed.len)
        if (typed.ended || (!typed.more() && typed.pos == typed.len))
            return 0;
    std::size_t got = std::min(size, typed.len - typed.pos);
    std::memcpy(buf, typed.ready + typed.pos, got);
    typed.pos += got;
    return static_cast<ssize_t>(got);
}

// GBK on its way to the terminal; a character cut by a flush waits here.
struct output {
    explicit output(int to) : fd(to) {}
    int fd;
    iconv_t cd = none;
    char held[4];
    std::size_t heldlen = 0;
};

output shown_out(1);
output shown_err(2);

ssize_t write_shown(void* cookie, const char* buf, std::size_t size)
{
    output& shown = *static_cast<output*>(cookie);
    char conv[4096];
    std::size_t taken = 0;
    // Finish a character cut by the previous flush.
    while (shown.heldlen > 0 && taken < size) {
        shown.held[shown.heldlen++] = buf[taken++];
        const char* p = shown.held;
        std::size_t left = shown.heldlen;
        std::size_t got = convert(shown.cd, p, left, conv, sizeof conv);
        if (got > 0 || shown.heldlen == sizeof shown.held) {
            if (!write_all(shown.fd, conv, got) || !write_all(shown.fd, p, left))
                return -1;
            shown.heldlen = 0;
        }
    }
    const char* p = buf + taken;
    std::size_t left = size - taken;
    while (left > 0) {
        std::size_t before = left;
        std::size_t got = convert(shown.cd, p, left, conv, sizeof conv);
        if (!write_all(shown.fd, conv, got))
            return -1;
        if (left == before && got == 0)
            break;
    }
    if (left >= sizeof shown.held) // not a cut character: pass it on
        return write_all(shown.fd, p, left) ? static_cast<ssize_t>(size) : -1;
    std::memcpy(shown.held, p, left);
    shown.heldlen = left;
    return static_cast<ssize_t>(size);
}

bool gb_locale()
{
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    return strcasecmp(cs, "GBK") == 0 || strcasecmp(cs, "GB2312") == 0 ||
           strcasecmp(cs, "GB18030") == 0;
}

} // namespace

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    in_tty = ::isatty(0);
    out_tty = ::isatty(1);
    in = stdin;
    out = stdout;
    bool gb = (in_tty || out_tty) && gb_locale();
    // A terminal is always read through here, converting or not, so that a
    // pause can set typed-ahead answers aside.
    if (in_tty) {
        if (!gb)
            typed.cd = iconv_open("GB18030", "UTF-8");
        cookie_io_functions_t io{read_typed, nullptr, nullptr, nullptr};
        if (std::FILE* f = fopencookie(nullptr, "r", io))
            in = f;
    }
    if (out_tty && !gb && (shown_out.cd = iconv_open("UTF-8", "GB18030")) != none) {
        cookie_io_functions_t io{nullptr, write_shown, nullptr, nullptr};
        if (std::FILE* f = fopencookie(&shown_out, "w", io))
            out = f;
    }
    // A terminal's output is held back until input is awaited, like a pipe's.
    std::setvbuf(out, nullptr, _IOFBF, BUFSIZ);
}

std::FILE* term_err()
{
    if (::isatty(2) && !gb_locale() && (shown_err.cd = iconv_open("UTF-8", "GB18030")) != none) {
        cookie_io_functions_t io{nullptr, write_shown, nullptr, nullptr};
        if (std::FILE* f = fopencookie(&shown_err, "w", io))
            return f;
    }
    return stderr;
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    std::fputs(text, out);
    std::fflush(out);
    termios old;
    if (in_tty && ::tcgetattr(0, &old) == 0) {
        typed.take_pending();
        // Signals are off while waiting: Ctrl-C is just a key here, and the
        // terminal is never left without echo.
        termios raw = old;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(0, TCSANOW, &raw);
        char key[32];
        while (::read(0, key, sizeof key) < 0 && errno == EINTR) {
        }
        ::tcsetattr(0, TCSANOW, &old);
    }
    std::fputc('\n', out);
}

void term_clear(std::FILE* out, bool out_tty)
{
    if (out_tty)
        std::fputs("\x1b[H\x1b[2J\x1b[3J", out);
}

bool term_sync(std::FILE* f)
{
    return ::fsync(::fileno(f)) == 0;
}

bool term_replace(const char* from, const char* to)
{
    return std::rename(from, to) == 0;
}

int term_stopped()
{
    return 0;
}

void term_exit(int code)
{
    std::exit(code);
}
