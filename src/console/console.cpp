#include "console/console.h"

#include "console/argv.h"
#include "console/terminal.h"
#include "console/terminal_text.h"
#include "records/fields.h"
#include "records/file.h"
#include "records/number.h"

#include <algorithm>
#include <cstdarg>

namespace {

std::FILE* in;
std::FILE* out;
std::FILE* err = stderr;
bool in_tty;
bool out_tty;
// A command's words, in the form own_text gives them (see console_command).
bool own_words = false;

} // namespace

void console_use(std::FILE* i, std::FILE* o, bool interactive, std::FILE* e)
{
    in = i;
    out = o;
    err = e ? e : stderr;
    in_tty = out_tty = interactive;
}

void console_std()
{
    term_open(in, out, in_tty, out_tty);
    err = term_err();
    // A request to end the session also ends a save's wait for another
    // program, so the operator's work is kept without delay.
    save_give_up = [] { return term_stopped() != 0; };
}

void console_command()
{
    std::fflush(out);
    out = stdout;
    err = stderr;
    own_words = true;
}

namespace {

// Writes text to f as the dialogue or as a command says it.
void put(std::string_view text, std::FILE* f)
{
    std::string own = own_words ? own_text(text, f) : std::string();
    if (own_words)
        text = own;
    std::fwrite(text.data(), 1, text.size(), f);
}

} // namespace

void line(std::string_view text)
{
    put(text, out);
    std::fputc('\n', out);
}

void prompt(std::string_view text)
{
    put(text, out);
}

void notice(std::string_view text)
{
    std::fflush(out);
    put(text, err);
    std::fputc('\n', err);
    std::fflush(err);
}

void row(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    char text[1024];
    int len = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    std::size_t size = std::min(static_cast<std::size_t>(len < 0 ? 0 : len), sizeof text - 1);
    if (out_tty)
        mask_shown(text, size);
    std::fwrite(text, 1, size, out);
}

void say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    if (!own_words)
        std::vfprintf(out, fmt, ap);
    else if (char text[1024]; std::vsnprintf(text, sizeof text, fmt, ap) >= 0)
        put(text, out);
    va_end(ap);
}

std::string format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string s(len > 0 ? static_cast<std::size_t>(len) : 0, '\0');
    va_start(ap, fmt);
    std::vsnprintf(s.data(), s.size() + 1, fmt, ap);
    va_end(ap);
    return s;
}

std::string word()
{
    // Nothing typed ahead is carried out once the session is to end.
    if (term_stopped())
        throw leave{};
    // Output is held back until input is awaited, never sent line by line.
    term_ask(out);
    int c;
    while ((c = std::getc(in)) != EOF && blank(static_cast<char>(c))) {
    }
    if (c == EOF)
        throw leave{};
    std::string w;
    do
        if (w.size() <= word_cap)
            w += static_cast<char>(c);
    while ((c = std::getc(in)) != EOF && !blank(static_cast<char>(c)));
    if (c != EOF)
        std::ungetc(c, in); // the white space after a word stays for the next read
    return w;
}

bool number(std::int32_t& v)
{
    // A token cut short at word_cap is not the number typed, even when
    // what was kept of it reads as one (leading zeros).
    std::string w = word();
    return w.size() <= word_cap && parse_int(w, v);
}

std::int32_t choice()
{
    std::int32_t v = 0;
    number(v);
    return v;
}

void pause_key()
{
    term_pause(out, in_tty, "请按任意键继续. . .");
}

void clear()
{
    term_clear(out, out_tty);
}

void flush()
{
    std::fflush(out);
}
