// All output goes through write_all, so a request to end the session can
// cut it short.
#include "console/terminal_output_posix.h"

#include "console/terminal.h"
#include "console/terminal_held.h"
#include "console/terminal_text.h"
#include "records/encoding_posix.h"

#include <cerrno>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Whether answers typed ahead are shown: input and output are one terminal.
bool echo_on = false;

// GBK answers on their way to the terminal when they are shown; none when
// the terminal speaks GBK.
std::unique_ptr<recoder> echo_rc;

// Whether the terminal's cursor is at the start of a line, as far as the
// program's output and the answers typed at its prompts tell.
bool at_line_start = true;

// Whether the last thing written to the terminal was the held line, shown
// whole: the cursor is still where the line ends.
bool held_last = false;

// Writes all of p, unless a request to end the session interrupts a write
// that cannot go on (a terminal whose output is stopped, a full pipe). Once
// one has come the dialogue is dropped, so nothing delays keeping the
// operator's work; notices still go out.
bool write_all(int fd, const char* p, std::size_t len)
{
    if (fd == 1 && len > 0)
        at_line_start = p[len - 1] == '\n';
    if (len > 0)
        held_last = false;
    while (len > 0) {
        if (term_stopped() && fd == 1)
            return false;
        ssize_t w = ::write(fd, p, len);
        if (w < 0 && errno == EINTR && !term_stopped())
            continue;
        if (w <= 0)
            return false;
        p += w;
        len -= static_cast<std::size_t>(w);
    }
    return true;
}

// GBK on its way to the terminal.
struct output {
    int fd;
    std::unique_ptr<recoder> rc = {}; // none when nothing is converted
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

ssize_t write_shown(void* cookie, const char* buf, std::size_t size)
{
    output& o = *static_cast<output*>(cookie);
    if (&o == &err_bridge) {
        show_held(); // a notice comes after the dialogue so far, on a line of its own
        end_line();
    }
    if (!o.rc)
        return emit(o, buf, size) ? static_cast<ssize_t>(size) : -1;
    o.text.clear();
    shown_text(*o.rc, buf, size, o.text);
    return emit(o, o.text.data(), o.text.size()) ? static_cast<ssize_t>(size) : -1;
}

// A stream to the terminal at o.fd that converts what is written to it (when
// convert is set) and may hold back its last line; plain when it cannot be had.
std::FILE* bridged(output& o, std::FILE* plain, bool convert)
{
    if (convert)
        o.rc = std::make_unique<recoder>(true);
    cookie_io_functions_t io{nullptr, write_shown, nullptr, nullptr};
    std::FILE* f = fopencookie(&o, "w", io);
    return f ? f : plain;
}

} // namespace

void shown_text(recoder& r, const char* p, std::size_t n, std::string& out)
{
    std::size_t start = out.size();
    recode(r, p, n, out);
    out.resize(start + no_c1(out.data() + start, out.size() - start));
}

void echo_answers(bool convert)
{
    echo_on = true;
    if (convert)
        echo_rc = std::make_unique<recoder>(true);
}

std::FILE* output_stream(std::FILE* plain, bool convert, bool hold)
{
    out_bridge.hold = hold;
    return bridged(out_bridge, plain, convert);
}

void hold_nothing()
{
    show_held();
    out_bridge.hold = false;
    out_bridge.shown.clear();
}

std::FILE* notice_stream()
{
    return bridged(err_bridge, stderr, true);
}

void end_line()
{
    if (echo_on && !at_line_start && ::write(1, "\n", 1) == 1) {
        at_line_start = true;
        held_last = false;
    }
}

// ---- the held prompt (terminal_held.h) ----

void show_held()
{
    if (out_bridge.tail.empty())
        return;
    held_last = write_all(out_bridge.fd, out_bridge.tail.data(), out_bridge.tail.size());
    out_bridge.shown += out_bridge.tail;
    out_bridge.tail.clear();
}

std::string take_held(bool& drawn)
{
    // Part of the line shown, with more written or to write after it (an
    // answer typed ahead, a notice): the editor draws all of it again from
    // the start of the line, so its idea of where the answer starts is right.
    drawn = held_last && out_bridge.tail.empty();
    if (!out_bridge.shown.empty() && !drawn)
        write_all(out_bridge.fd, "\r", 1);
    held_last = false;
    std::string t = out_bridge.shown + out_bridge.tail;
    out_bridge.shown.clear();
    out_bridge.tail.clear();
    return t;
}

bool echoing()
{
    return echo_on;
}

void echo_answer(const char* p, std::size_t n, bool whole)
{
    show_held();
    std::string text = shown_form(std::string(p, n));
    if (whole) {
        text += '\n';
        // Its line is over: the editor is not to draw it again before the
        // next prompt.
        out_bridge.shown.clear();
    }
    write_all(1, text.data(), text.size());
}

std::string shown_form(const std::string& gbk)
{
    if (!echo_rc)
        return gbk;
    std::string text;
    shown_text(*echo_rc, gbk.data(), gbk.size(), text);
    return text;
}

void typed_to(bool line_start)
{
    at_line_start = line_start;
}
