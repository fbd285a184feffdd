// POSIX terminal. The program and its data file speak GBK, like a console
// on code page 936; a Linux terminal speaks UTF-8. When a standard stream
// is a terminal its bytes are converted with iconv on the way through, so
// the table keeps GBK bytes (two per Chinese character, which is what the
// listing's column widths count) and files stay compatible with Windows.
// Off a terminal every byte passes unchanged.
#include "console/terminal.h"

#include "console/console.h"
#include "console/lineedit.h"
#include "console/recode.h"
#include "console/terminal_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <clocale>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <iconv.h>
#include <langinfo.h>
#include <poll.h>
#include <strings.h>
#include <termios.h>
#include <unistd.h>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

// How long a pause waits for the rest of a paste before it shows: a paste
// larger than the terminal's buffer arrives in pieces.
const int quiet_ms = 40;

// A request to end the session: the signal's number, and a pipe that a
// wait for input watches, so a signal that comes just before the wait
// still ends it.
volatile sig_atomic_t stop_sig = 0;
int stop_pipe[2] = {-1, -1};

// Whether answers typed ahead are shown: input and output are one terminal.
bool echo_answers = false;

// GBK answers on their way to the terminal when they are shown.
recoder echo_rc = {none};

// Whether the terminal's cursor is at the start of a line, as far as the
// program's output and the answers typed at its prompts tell.
bool at_line_start = true;

// gbk as the terminal shows it.
std::string shown_form(const std::string& gbk)
{
    if (echo_rc.cd == none)
        return gbk;
    std::string text;
    recode(echo_rc, gbk.data(), gbk.size(), text);
    return text;
}

// Ends the line on the terminal, when something is on it, so what follows
// (a notice, the shell's prompt) starts a line of its own.
void end_line()
{
    if (echo_answers && !at_line_start && ::write(1, "\n", 1) == 1)
        at_line_start = true;
}

// Writes all of p, unless a request to end the session interrupts a write
// that cannot go on (a terminal whose output is stopped, a full pipe). Once
// one has come the dialogue is dropped, so nothing delays keeping the
// operator's work; notices still go out.
bool write_all(int fd, const char* p, std::size_t len)
{
    if (fd == 1 && len > 0)
        at_line_start = p[len - 1] == '\n';
    while (len > 0) {
        if (stop_sig && fd == 1)
            return false;
        ssize_t w = ::write(fd, p, len);
        if (w < 0 && errno == EINTR && !stop_sig)
            continue;
        if (w <= 0)
            return false;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return true;
}

// The terminal's own mode, as the program found it.
termios own_mode;
bool have_own_mode = false;

// Puts the terminal back in its own mode, whether the pause or the line
// editor has it in another, so whatever ends the program leaves it as it
// was found. Only from the foreground: setting the mode from the
// background would stop the program instead.
void restore_mode()
{
    if (have_own_mode && ::tcgetpgrp(0) == ::getpgrp())
        ::tcsetattr(0, TCSANOW, &own_mode);
}

void on_stop(int sig)
{
    int e = errno;
    if (!stop_sig)
        stop_sig = sig;
    (void)!::write(stop_pipe[1], "", 1);
    errno = e;
}

// The window changed size (or the program was continued) while an answer
// is edited: the editor is told between keys.
volatile sig_atomic_t resized = 0;
volatile sig_atomic_t continued = 0;

// Stopped (Ctrl-Z, or SIGTSTP) while the pause or the line editor has the
// terminal out of line mode: the shell gets the terminal as it was, and the
// program its mode back when continued.
void on_tstp(int)
{
    int e = errno;
    termios now;
    bool back = have_own_mode && ::tcgetattr(0, &now) == 0;
    if (back)
        ::tcsetattr(0, TCSANOW, &own_mode);
    ::signal(SIGTSTP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(SIGTSTP); // stops here until continued
    ::signal(SIGTSTP, on_tstp);
    if (back)
        ::tcsetattr(0, TCSANOW, &now);
    continued = 1; // the shell wrote meanwhile: an answer being edited is drawn again
    errno = e;
}

void on_resize(int)
{
    resized = 1;
}

// After a request to end the session, whatever still blocks (output to a
// stopped terminal or a full pipe) gets this long before the process ends
// as the request says.
void on_deadline(int)
{
    restore_mode();
    ::signal(stop_sig, SIG_DFL);
    ::raise(stop_sig);
}

// SIGQUIT asks for no saving, only for the terminal back as it was.
void on_quit(int sig)
{
    restore_mode();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// Waits until standard input can be read (or has ended), for at most ms
// (-1: no limit). False when it cannot be read now or a stop came.
bool wait_input(int ms)
{
    pollfd p[2] = {{0, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    for (;;) {
        if (stop_sig)
            return false;
        int r = ::poll(p, 2, ms);
        if (r < 0 && errno == EINTR)
            continue;
        return !stop_sig && r > 0; // the pipe is written only with a stop
    }
}

// Waits for the next key of an answer being edited: 1 when there is one (or
// the input has ended), 0 when the session is to stop, -1 when the window
// changed size meanwhile, -2 when the program was stopped and continued.
int wait_key()
{
    pollfd p[2] = {{0, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    for (;;) {
        if (stop_sig)
            return 0;
        if (continued) {
            continued = 0;
            resized = 0;
            return -2;
        }
        if (resized) {
            resized = 0;
            return -1;
        }
        int r = ::poll(p, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        return stop_sig ? 0 : 1;
    }
}

// Reads what standard input has, once a wait says it can; 0 at the end of
// input or when a stop came.
ssize_t read_input(char* buf, std::size_t size)
{
    // Once the wait says so, the read does not block, so no signal can
    // interrupt it.
    return wait_input(-1) ? ::read(0, buf, size) : 0;
}

ssize_t read_piped(void*, char* buf, std::size_t size)
{
    return read_input(buf, size);
}

// The output's last line while it is unfinished, held back at a terminal
// where answers are edited: shown as it is, or handed to the line editor as
// its prompt.
void show_tail();
std::string take_tail();

// White space between answers, as the reads see it.
bool gap(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n';
}

// What the terminal gives, converted, and not yet handed to the reader:
// however much was typed or pasted ahead of a pause.
struct input {
    iconv_t cd = none;
    char raw[1024];
    std::size_t rawlen = 0;
    std::string ready;
    std::size_t pos = 0;
    bool ended = false; // the terminal said end of input, maybe while set aside

    // Converts n bytes from the terminal onto what is ready; a character
    // cut off at the end waits in raw for its rest.
    void take(const char* from, std::size_t n)
    {
        while (n > 0) {
            std::size_t step = std::min(n, sizeof raw - rawlen);
            std::memcpy(raw + rawlen, from, step);
            rawlen += step;
            from += step;
            n -= step;
            const char* p = raw;
            std::size_t left = rawlen;
            if (cd == none) {
                keep(raw, rawlen);
                left = 0;
            } else {
                char conv[4 * sizeof raw];
                keep(conv, convert(cd, p, left, conv, sizeof conv, not_a_character));
            }
            std::memmove(raw, p, left);
            rawlen = left;
        }
    }

    std::size_t linelen = 0; // bytes of the line being put together
    bool cutting = false;    // past line_cap: dropping up to the line's end

    // Appends converted bytes to what is ready, at most line_cap of one
    // line: nobody types a longer one, and a paste that long is a mistake.
    void keep(const char* p, std::size_t n)
    {
        while (n > 0) {
            auto nl = static_cast<const char*>(std::memchr(p, '\n', n));
            std::size_t seg = nl ? static_cast<std::size_t>(nl - p) : n;
            if (!cutting) {
                std::size_t kept = std::min(seg, line_cap - linelen);
                ready.append(p, kept);
                linelen += kept;
                if (kept < seg)
                    cut(!gap(p[kept]));
            }
            if (!nl)
                return;
            ready += '\n';
            linelen = 0;
            cutting = false;
            p += seg + 1;
            n -= seg + 1;
        }
    }

    // Drops the rest of the line with a bell. A word cut in two is made
    // longer than any answer may be, so it is refused, never taken short.
    void cut(bool word_goes_on)
    {
        cutting = true;
        if (word_goes_on)
            spoil();
        if (::isatty(1))
            (void)!::write(1, "\a", 1);
    }

    void spoil()
    {
        if (!ready.empty() && !gap(ready.back()))
            ready.append(word_cap + 1, '?');
    }

    void finish()
    {
        ended = true;
        // A character cut off at the very end is no character.
        if (cd != none)
            std::memset(raw, not_a_character, rawlen);
        keep(raw, rawlen);
        rawlen = 0;
    }

    // Reads once from the terminal and converts what came. False at the
    // end of input, on a read error or a stop. eof is the end-of-input key:
    // typed ahead while the line editor or the pause had the terminal out of
    // line mode, it arrives as a byte, and still ends the input.
    bool more(int eof = -1)
    {
        ready.erase(0, pos);
        pos = 0;
        char buf[sizeof raw];
        ssize_t r = read_input(buf, sizeof raw - rawlen);
        if (r <= 0) {
            finish();
            return false;
        }
        auto n = static_cast<std::size_t>(r);
        const char* end = eof < 0 ? buf + n : std::find(buf, buf + n, static_cast<char>(eof));
        take(buf, static_cast<std::size_t>(end - buf));
        if (end == buf + n)
            return true;
        finish();
        return false;
    }

    // Reads one line through the line editor, with the output's last,
    // unfinished line as its prompt, so that the editor's redisplay knows
    // where the answer starts. False at the end of input or a stop.
    bool edit()
    {
        // An answer begun ahead (typed while output was still being
        // written) is the start of the line, to be seen and edited.
        std::string begun = shown_form(ready.substr(pos));
        ready.clear();
        pos = 0;
        std::string line;
        edited e = edit_line(take_tail(), begun, wait_key, line);
        at_line_start = e != edited::end; // Enter, or the line a stop ended
        if (e != edited::line && e != edited::cut) {
            finish();
            return false;
        }
        take(line.data(), line.size());
        if (e == edited::cut)
            spoil();
        take("\n", 1);
        return true;
    }

    // Moves whatever the terminal holds in here, waiting up to ms for more
    // after each piece, so a key read straight from the terminal takes
    // only a key pressed from now on.
    void take_pending(int ms, int eof = -1)
    {
        while (!ended && wait_input(ms) && more(eof)) {
        }
    }
};

input typed;

// Whether answers are read through the line editor.
bool editing = false;

// The end of the next answer in what is ready, from pos: past the white
// space before it and the answer, and the one byte of white space after it.
// npos when the answer may go on in what the terminal has yet to give.
std::size_t answer_end(const std::string& r, std::size_t pos)
{
    std::size_t k = pos;
    while (k < r.size() && gap(r[k]))
        ++k;
    if (k == r.size())
        return k; // white space alone
    while (k < r.size() && !gap(r[k]))
        ++k;
    return k < r.size() ? k + 1 : std::string::npos;
}

// Shows an answer that was typed ahead after the prompt it answers, as if
// typed there, and ends its line.
void echo(const char* p, std::size_t n, bool whole)
{
    show_tail();
    std::string text;
    if (echo_rc.cd != none)
        recode(echo_rc, p, n, text);
    else
        text.assign(p, n);
    if (whole)
        text += '\n';
    write_all(1, text.data(), text.size());
}

// One answer at a time, so that each one typed ahead shows after its own
// prompt. What the operator types at a prompt shows as typed.
ssize_t read_typed(void*, char* buf, std::size_t size)
{
    if (stop_sig)
        return 0; // nothing typed ahead is carried out once the session is to end
    bool live = false;
    std::size_t end;
    while ((end = answer_end(typed.ready, typed.pos)) == std::string::npos ||
           typed.pos == typed.ready.size()) {
        if (typed.ended) {
            end = typed.ready.size();
            if (typed.pos == end)
                return 0;
            break;
        }
        // Without the editor, an answer begun ahead shows before the rest of
        // it is typed, so what the operator types goes on from it visibly.
        if (!editing && echo_answers && !live && typed.pos < typed.ready.size())
            echo(typed.ready.data() + typed.pos, typed.ready.size() - typed.pos, false);
        bool got = editing ? typed.edit() : (show_tail(), typed.more());
        live = true;
        if (!editing && got && !typed.ready.empty() && typed.ready.back() == '\n')
            at_line_start = true; // the terminal showed the Enter
        if (!got && typed.pos == typed.ready.size())
            return 0;
    }
    show_tail(); // answered by what was typed ahead: the prompt shows as it is
    std::size_t got = std::min(size, end - typed.pos);
    const char* from = typed.ready.data() + typed.pos;
    if (echo_answers && !live) {
        std::size_t skip = 0;
        while (skip < got && gap(from[skip]))
            ++skip;
        std::size_t len = skip;
        while (len < got && !gap(from[len]))
            ++len;
        if (len > skip)
            echo(from + skip, len - skip, len < got || end == typed.ready.size());
    }
    std::memcpy(buf, from, got);
    typed.pos += got;
    return static_cast<ssize_t>(got);
}

// Whether the terminal speaks GBK itself rather than UTF-8.
bool gb_terminal = false;

// Signals that end the session end it between answers, never in the middle
// of a save; a closed output pipe only loses output.
void catch_signals()
{
    // Without it the descriptors stay -1, which poll passes over: a signal
    // still interrupts a wait, only not one that has yet to begin.
    (void)!::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK);
    // Not restarted: a write blocked on output nobody takes must give way
    // to the request, so the operator's work can still be kept.
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    sa.sa_handler = on_quit;
    ::sigaction(SIGQUIT, &sa, nullptr);
    sa.sa_handler = on_tstp;
    ::sigaction(SIGTSTP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

// GBK on its way to the terminal.
struct output {
    int fd;
    recoder rc = {none};
    std::string text = {}; // rc's output, kept to save allocations
    bool hold = false;     // keep the unfinished last line in tail
    std::string tail = {};
    std::string shown = {}; // the unfinished last line, once it is shown
};

output out_bridge{1};
output err_bridge{2};

bool emit(output& o, const char* p, std::size_t len)
{
    if (!o.hold)
        return write_all(o.fd, p, len);
    o.tail.append(p, len);
    std::size_t cut = o.tail.rfind('\n');
    if (o.tail.size() > 4096) // no prompt is this long
        cut = o.tail.size() - 1;
    if (cut == std::string::npos)
        return true;
    bool ok = write_all(o.fd, o.tail.data(), cut + 1);
    o.tail.erase(0, cut + 1);
    o.shown.clear();
    return ok;
}

void show_tail()
{
    write_all(out_bridge.fd, out_bridge.tail.data(), out_bridge.tail.size());
    out_bridge.shown += out_bridge.tail;
    out_bridge.tail.clear();
}

std::string take_tail()
{
    // Part of the line already shown (an answer typed ahead began after its
    // prompt): the editor draws all of it again from the start of the line,
    // so its idea of where the answer starts is right.
    if (!out_bridge.shown.empty())
        write_all(out_bridge.fd, "\r", 1);
    std::string t = out_bridge.shown + out_bridge.tail;
    out_bridge.shown.clear();
    out_bridge.tail.clear();
    return t;
}

ssize_t write_shown(void* cookie, const char* buf, std::size_t size)
{
    output& o = *static_cast<output*>(cookie);
    if (&o == &err_bridge) {
        show_tail(); // a notice comes after the dialogue so far, on a line of its own
        end_line();
    }
    if (o.rc.cd == none)
        return emit(o, buf, size) ? static_cast<ssize_t>(size) : -1;
    o.text.clear();
    recode(o.rc, buf, size, o.text);
    bool ok = emit(o, o.text.data(), o.text.size());
    if (&o == &err_bridge && size > 0 && buf[size - 1] == '\n')
        at_line_start = true;
    return ok ? static_cast<ssize_t>(size) : -1;
}

bool gb_locale()
{
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    return strcasecmp(cs, "GBK") == 0 || strcasecmp(cs, "GB2312") == 0 ||
           strcasecmp(cs, "GB18030") == 0;
}

// A stream to the terminal at o.fd that converts what is written to it
// (when convert is set) and may hold back its last line; plain when it
// would do neither, or cannot be had.
std::FILE* bridged(output& o, std::FILE* plain, bool convert)
{
    if (convert && (o.rc.cd = iconv_open("UTF-8", "GB18030")) == none)
        return plain;
    cookie_io_functions_t io{nullptr, write_shown, nullptr, nullptr};
    std::FILE* f = fopencookie(&o, "w", io);
    return f ? f : plain;
}

// Waits for the pause's key and keeps what came with it (a paste) like
// typed-ahead answers. Stopped and continued, the pause shows again.
void pause_wait(std::FILE* out, const char* text)
{
    for (;;) {
        int w = wait_key();
        if (w == -1)
            continue;
        if (w == -2) {
            // Over itself, when the stop was discarded (no shell to stop for).
            std::fputs("\r", out);
            std::fputs(text, out);
            std::fflush(out);
            show_tail();
            continue;
        }
        char key[256];
        // A request to end the session, or a terminal that is gone, ends
        // the wait at once.
        ssize_t got = w == 0 ? 0 : ::read(0, key, sizeof key);
        if (got <= 0) {
            typed.ended = true;
            return;
        }
        std::size_t n = static_cast<std::size_t>(got);
        // A key whose bytes come in pieces (over a slow line) is still one
        // key; ESC alone is the Esc key once nothing follows it.
        std::size_t k;
        while ((k = key_length(key, n, gb_terminal)) == 0 && n < sizeof key && wait_input(quiet_ms)) {
            got = ::read(0, key + n, sizeof key - n);
            if (got <= 0)
                break;
            n += static_cast<std::size_t>(got);
        }
        if (k == 0)
            k = n;
        typed.take(key + k, n - k);
        return;
    }
}

} // namespace

void term_open(std::FILE*& in, std::FILE*& out, bool& in_tty, bool& out_tty)
{
    // A standard stream that was closed is /dev/null, so no file the
    // program opens later is taken for the dialogue.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) != fd)
            std::_Exit(125);
    in_tty = ::isatty(0);
    out_tty = ::isatty(1);
    in = stdin;
    catch_signals();
    bool gb = (in_tty || out_tty) && gb_locale();
    gb_terminal = gb;
    // Input is always read through here, so that a signal can end a wait
    // for it, and at a terminal so that a pause can set typed-ahead answers
    // aside.
    if (in_tty && !gb)
        typed.cd = iconv_open("GB18030", "UTF-8");
    cookie_io_functions_t io{in_tty ? read_typed : read_piped, nullptr, nullptr, nullptr};
    if (std::FILE* f = fopencookie(nullptr, "r", io))
        in = f;
    // Answers are edited only where the editor's echo and its prompt show
    // on the same terminal.
    have_own_mode = in_tty && ::tcgetattr(0, &own_mode) == 0;
    editing = in_tty && out_tty && edit_open();
    echo_answers = in_tty && out_tty;
    if (echo_answers && !gb)
        echo_rc.cd = iconv_open("UTF-8", "GB18030");
    if (echo_answers)
        std::atexit(end_line);
    // The terminal's own line mode erases whole UTF-8 characters only with
    // IUTF8; without it Backspace leaves half a character in the answer.
    if (have_own_mode && !editing && !gb && !(own_mode.c_iflag & IUTF8)) {
        termios utf8_mode = own_mode;
        utf8_mode.c_iflag |= IUTF8;
        if (::tcsetattr(0, TCSANOW, &utf8_mode) == 0)
            std::atexit(restore_mode);
    }
    if (editing) {
        std::atexit(show_tail);
        struct sigaction sa {};
        sa.sa_handler = on_resize;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGWINCH, &sa, nullptr);
    }
    out_bridge.hold = editing;
    // Output always goes through here, so a signal can cut it short.
    out = bridged(out_bridge, stdout, out_tty && !gb);
    // A terminal's output is held back until input is awaited, like a pipe's.
    std::setvbuf(out, nullptr, _IOFBF, BUFSIZ);
}

std::FILE* term_err()
{
    return ::isatty(2) && !gb_locale() ? bridged(err_bridge, stderr, true) : stderr;
}

void term_ask(std::FILE* out)
{
    // The reads show answers typed ahead themselves (read_typed).
    std::fflush(out);
}

void term_pause(std::FILE* out, bool in_tty, const char* text)
{
    std::fflush(out);
    termios saved_mode;
    bool waits = in_tty && ::tcgetattr(0, &saved_mode) == 0;
    if (waits) {
        // Everything typed or pasted before the pause shows is set aside
        // for the reads after it: whole lines (and the rest of a paste
        // still on its way) first, then, out of line mode, a line not yet
        // ended. Ctrl-C, Ctrl-\ and Ctrl-Z keep their meaning here, as at
        // any prompt.
        typed.take_pending(quiet_ms, saved_mode.c_cc[VEOF]);
        termios raw_mode = saved_mode;
        raw_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw_mode.c_cc[VMIN] = 1;
        raw_mode.c_cc[VTIME] = 0;
        ::tcsetattr(0, TCSANOW, &raw_mode);
        typed.take_pending(0, saved_mode.c_cc[VEOF]);
    }
    // A stop before the pause shows is no reason to show it again; one
    // from the moment it shows is.
    continued = 0;
    std::fputs(text, out);
    std::fflush(out);
    show_tail();
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

int term_stopped()
{
    return stop_sig;
}

void term_deadline()
{
    if (!stop_sig)
        return;
    ::signal(SIGALRM, on_deadline);
    ::alarm(2);
}

void term_exit(int code)
{
    end_line();
    restore_mode();
    // The dialogue was dropped when the request came (see write_all), so
    // no held prompt is shown now.
    ::signal(code, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, code);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(code);
    std::_Exit(128 + code);
}

void term_bytes(std::FILE*) {}
