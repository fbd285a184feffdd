// POSIX terminal. The program and its data file speak GBK, like a console
// on code page 936; a Linux terminal speaks UTF-8. When a standard stream
// is a terminal its bytes are converted with iconv on the way through, so
// the table keeps GBK bytes (two per Chinese character, which is what the
// listing's column widths count) and files stay compatible with Windows.
// Off a terminal every byte passes unchanged.
#include "console/terminal.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <istream>
#include <langinfo.h>
#include <ostream>
#include <poll.h>
#include <streambuf>
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

// Converts as much of [*p, *p + *len) as forms whole characters, appending
// to dst (room bytes free). Bytes that are not valid input are passed on
// unchanged, so nothing the operator typed is lost. Returns bytes written.
std::size_t convert(iconv_t cd, const char*& p, std::size_t& len, char* dst,
                    std::size_t room, bool final)
{
    char* o = dst;
    while (len > 0 && room > 0) {
        char* ip = const_cast<char*>(p);
        if (iconv(cd, &ip, &len, &o, &room) != static_cast<std::size_t>(-1)) {
            p = ip;
            break;
        }
        p = ip;
        if (errno == E2BIG || (errno == EINVAL && !final))
            break;
        *o++ = *p++; // EILSEQ, or a cut-off character at the very end
        --len;
        --room;
    }
    return static_cast<std::size_t>(o - dst);
}

class outbuf : public std::streambuf {
public:
    outbuf(int fd, iconv_t cd) : fd_(fd), cd_(cd) { setp(buf_, buf_ + sizeof buf_); }
    ~outbuf() override { drain(true); }

protected:
    int overflow(int c) override
    {
        if (!drain(false))
            return traits_type::eof();
        if (c != traits_type::eof()) {
            *pptr() = static_cast<char>(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return drain(false) ? 0 : -1; }

private:
    bool drain(bool final)
    {
        const char* p = pbase();
        std::size_t len = static_cast<std::size_t>(pptr() - pbase());
        bool ok = true;
        if (cd_ == none) {
            ok = write_all(fd_, p, len);
            len = 0;
        }
        while (ok && len > 0) {
            char conv[4 * sizeof buf_ / 8];
            std::size_t before = len;
            std::size_t got = convert(cd_, p, len, conv, sizeof conv, final);
            ok = write_all(fd_, conv, got);
            if (len == before && got == 0)
                break; // a character cut by the buffer end waits for its rest
        }
        // Keep a cut-off character for the next round.
        std::memmove(buf_, p, len);
        setp(buf_, buf_ + sizeof buf_);
        pbump(static_cast<int>(len));
        return ok;
    }

    int fd_;
    iconv_t cd_;
    char buf_[1 << 16];
};

class inbuf : public std::streambuf {
public:
    inbuf(int fd, iconv_t cd) : fd_(fd), cd_(cd) { setg(buf_, buf_, buf_); }

    // Moves whatever the terminal already holds into this buffer without
    // waiting, so a key read straight from the terminal takes only a key
    // pressed from now on.
    void take_pending()
    {
        pollfd pfd{fd_, POLLIN, 0};
        while (room() && ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN) && more()) {
        }
    }

protected:
    int underflow() override
    {
        while (gptr() == egptr())
            if (!more())
                return traits_type::eof();
        return traits_type::to_int_type(*gptr());
    }

private:
    // Whether one more read, converted, is sure to fit behind the unread bytes.
    bool room() const
    {
        return static_cast<std::size_t>(egptr() - gptr()) + 4 * sizeof raw_ <= sizeof buf_;
    }

    // Reads once from the descriptor and appends the converted bytes to
    // the unread ones. False at the end of input or on a read error.
    bool more()
    {
        std::size_t keep = static_cast<std::size_t>(egptr() - gptr());
        std::memmove(buf_, gptr(), keep);
        ssize_t r;
        do
            r = ::read(fd_, raw_ + rawlen_, sizeof raw_ - rawlen_);
        while (r < 0 && errno == EINTR);
        bool final = r <= 0;
        if (r > 0)
            rawlen_ += static_cast<std::size_t>(r);
        const char* p = raw_;
        std::size_t len = rawlen_;
        std::size_t got;
        if (cd_ == none) {
            std::memcpy(buf_ + keep, p, len);
            got = len;
            len = 0;
        } else {
            got = convert(cd_, p, len, buf_ + keep, sizeof buf_ - keep, final);
        }
        std::memmove(raw_, p, len);
        rawlen_ = len;
        setg(buf_, buf_, buf_ + keep + got);
        return !final || got > 0;
    }

    int fd_;
    iconv_t cd_;
    char raw_[4096];
    std::size_t rawlen_ = 0;
    char buf_[1 << 16];
};

inbuf* stdin_buf;

bool gb_locale()
{
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    return strcasecmp(cs, "GBK") == 0 || strcasecmp(cs, "GB2312") == 0 ||
           strcasecmp(cs, "GB18030") == 0;
}

} // namespace

void term_open(std::istream*& in, std::ostream*& out, bool& in_tty, bool& out_tty)
{
    in_tty = ::isatty(0);
    out_tty = ::isatty(1);
    bool gb = (in_tty || out_tty) && gb_locale();
    iconv_t to_gbk = in_tty && !gb ? iconv_open("GB18030", "UTF-8") : none;
    iconv_t from_gbk = out_tty && !gb ? iconv_open("UTF-8", "GB18030") : none;
    static inbuf ib(0, to_gbk);
    static outbuf ob(1, from_gbk);
    static std::istream is(&ib);
    static std::ostream os(&ob);
    stdin_buf = &ib;
    in = &is;
    out = &os;
}

void term_pause(std::ostream& out, bool in_tty, std::string_view text)
{
    out << text;
    out.flush();
    termios old;
    if (in_tty && stdin_buf && ::tcgetattr(0, &old) == 0) {
        stdin_buf->take_pending();
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
    out << '\n';
}

void term_clear(std::ostream& out, bool out_tty)
{
    if (out_tty)
        out << "\x1b[H\x1b[2J\x1b[3J";
}

bool term_sync(std::FILE* f)
{
    return ::fsync(::fileno(f)) == 0;
}
