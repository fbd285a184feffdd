// What the terminal gives is converted to GBK on the way in, the bytes the
// table keeps. Answers are handed over one at a time, so that each one typed
// ahead shows after its own prompt (terminal_held.h).
#include "console/terminal_input_posix.h"

#include "console/console.h"
#include "console/lineedit.h"
#include "console/terminal.h"
#include "console/terminal_held.h"
#include "console/terminal_output_posix.h"
#include "console/terminal_text.h"
#include "console/terminal_wait_posix.h"
#include "records/encoding.h"
#include "records/encoding_posix.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

// Typed bytes that are no character stand in as no_gbk: no question takes it.
constexpr int not_a_character = static_cast<unsigned char>(no_gbk);

// Reads what standard input has, once a wait says it can; 0 at the end of
// input or when a stop came. Piped input is read through it alone.
ssize_t read_input(void*, char* buf, std::size_t size)
{
    // Once the wait says so, the read does not block, so no signal can
    // interrupt it.
    return wait_input(-1) ? ::read(0, buf, size) : 0;
}

// What the terminal gives, converted, and not yet handed to the reader:
// however much was typed or pasted ahead of a pause.
struct input {
    std::unique_ptr<recoder> rc; // none when the terminal speaks GBK
    std::string ready;
    std::size_t pos = 0;
    bool ended = false; // the terminal said end of input, maybe while set aside

    // Converts n bytes from the terminal onto what is ready; a character
    // cut off at the end waits for its rest.
    void take(const char* from, std::size_t n)
    {
        if (!rc)
            return keep(from, n);
        std::string conv;
        recode(*rc, from, n, conv, not_a_character);
        keep(conv.data(), conv.size());
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
                    cut(!blank(p[kept]));
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
        if (!ready.empty() && !blank(ready.back()))
            ready.append(word_cap + 1, '?');
    }

    void finish()
    {
        ended = true;
        // A character cut off at the very end is no character.
        std::string rest;
        if (rc)
            recode_end(*rc, rest, not_a_character);
        keep(rest.data(), rest.size());
    }

    // Reads once from the terminal and converts what came. False at the
    // end of input, on a read error or a stop. eof is the end-of-input key:
    // typed ahead while the line editor or the pause had the terminal out of
    // line mode, it arrives as a byte, and still ends the input.
    bool more(int eof = -1)
    {
        ready.erase(0, pos);
        pos = 0;
        char buf[1024];
        ssize_t r = read_input(nullptr, buf, sizeof buf);
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

    // Reads one line through the line editor, with the held prompt as its
    // prompt, so that the editor's redisplay knows where the answer starts.
    // False at the end of input or a stop.
    bool edit()
    {
        // An answer begun ahead (typed while output was still being
        // written) is the start of the line, to be seen and edited.
        std::string begun = shown_form(ready.substr(pos));
        ready.clear();
        pos = 0;
        std::string line;
        bool drawn;
        std::string prompt = take_held(drawn);
        edited e = edit_line(prompt, drawn, begun, wait_key, line);
        typed_to(e != edited::end); // Enter, or the line a stop ended
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
};

input typed;

// Whether answers are read through the line editor.
bool editing = false;

// Loads the line editor when the first answer is awaited, and then no more.
bool (*load_editor)() = nullptr;

// The end of the next answer in what is ready, from pos: past the white
// space before it and the answer, and the one byte of white space after it.
// npos when the answer may go on in what the terminal has yet to give.
std::size_t answer_end(const std::string& r, std::size_t pos)
{
    answer_at a = first_answer(r.data() + pos, r.size() - pos);
    if (pos + a.from == r.size())
        return r.size(); // white space alone
    return pos + a.to < r.size() ? pos + a.to + 1 : std::string::npos;
}

// What the operator types at a prompt shows as typed.
ssize_t read_typed(void*, char* buf, std::size_t size)
{
    if (term_stopped())
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
        if (load_editor) {
            // The prompt shows while the editor loads, which takes longer
            // than all the rest of a start; the editor takes it as drawn.
            show_held();
            editing = load_editor();
            load_editor = nullptr;
        }
        // Without the editor, an answer begun ahead shows before the rest of
        // it is typed, so what the operator types goes on from it visibly.
        if (!editing && echoing() && !live && typed.pos < typed.ready.size())
            echo_answer(typed.ready.data() + typed.pos, typed.ready.size() - typed.pos, false);
        bool got = editing ? typed.edit() : (show_held(), typed.more());
        live = true;
        if (!editing && got && !typed.ready.empty() && typed.ready.back() == '\n')
            typed_to(true); // the terminal showed the Enter
        // The end of input typed after part of an answer leaves the cursor
        // behind it: what the answer shows starts a line of its own.
        if (!got && !editing)
            end_line();
    }
    show_held(); // answered by what was typed ahead: the prompt shows as it is
    std::size_t got = std::min(size, end - typed.pos);
    const char* from = typed.ready.data() + typed.pos;
    if (echoing() && !live) {
        answer_at a = first_answer(from, got);
        if (a.to > a.from)
            echo_answer(from + a.from, a.to - a.from, a.to < got || end == typed.ready.size());
    }
    std::memcpy(buf, from, got);
    typed.pos += got;
    return static_cast<ssize_t>(got);
}

} // namespace

std::FILE* input_stream(bool tty, bool convert, bool (*editor)())
{
    if (convert)
        typed.rc = std::make_unique<recoder>(false);
    load_editor = editor;
    cookie_io_functions_t io{tty ? read_typed : read_input, nullptr, nullptr, nullptr};
    return fopencookie(nullptr, "r", io);
}

void set_aside(int ms, int eof)
{
    while (!typed.ended && wait_input(ms) && typed.more(eof)) {
    }
}

void set_aside(const char* p, std::size_t n)
{
    typed.take(p, n);
}

void input_ended()
{
    typed.ended = true;
}
