#include "console/console.h"

#include "console/terminal.h"
#include "records/number.h"

#include <algorithm>
#include <cstdarg>
#include <locale>
#include <cstdio>
#include <istream>
#include <ostream>

namespace {
std::istream* in;
std::ostream* out;
bool in_tty;
bool out_tty;
}

namespace {

// A word is cut at a NUL byte as at white space: a stored value ends at its
// first NUL, so a NUL inside an answer would silently shorten it (an empty
// student number would even shift every field of the saved file).
struct word_ctype : std::ctype<char> {
    word_ctype() : std::ctype<char>(table()) {}
    static const mask* table()
    {
        static mask t[table_size];
        std::copy(classic_table(), classic_table() + table_size, t);
        t[0] |= space;
        return t;
    }
};

void words_from(std::istream& i)
{
    static const std::locale words(std::locale::classic(), new word_ctype);
    i.imbue(words);
}

} // namespace

void console_use(std::istream& i, std::ostream& o, bool interactive)
{
    words_from(i);
    in = &i;
    out = &o;
    // Answers typed ahead must not be read before the question is visible.
    in->tie(out);
    in_tty = out_tty = interactive;
}

void console_std()
{
    term_open(in, out, in_tty, out_tty);
    words_from(*in);
    in->tie(out);
}

void line(std::string_view text)
{
    *out << text << '\n';
}

void prompt(std::string_view text)
{
    *out << text;
}

void say(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int len = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (len < 0)
        return;
    if (static_cast<std::size_t>(len) < sizeof buf) {
        out->write(buf, len);
        return;
    }
    // Rarely needed: rows are bounded by the field capacities.
    std::string big(static_cast<std::size_t>(len) + 1, '\0');
    va_start(ap, fmt);
    std::vsnprintf(big.data(), big.size(), fmt, ap);
    va_end(ap);
    out->write(big.data(), len);
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
    std::string w;
    if (!(*in >> w))
        throw leave{};
    return w;
}

bool number(std::int32_t& v)
{
    return parse_int(word(), v);
}

void pause_key()
{
    term_pause(*out, in_tty, "请按任意键继续. . .");
}

void clear()
{
    term_clear(*out, out_tty);
}

void flush()
{
    out->flush();
}
