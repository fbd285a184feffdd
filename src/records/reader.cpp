// Reading a data file into the table: one pass over large blocks, tokens
// taken in place, and the records it overwrites kept until it is over.
#include "records/reader.h"

#include "records/datafile.h"
#include "records/fields.h"
#include "records/number.h"
#include "records/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// The records in use that a load has overwritten so far, put back when
// the file turns out bad. Only slots below n are kept: the rest are outside
// the register, so a first load needs no room here at all.
student kept[STUDENT_CAPACITY];

// Splits a file into white-space separated tokens in one pass, reading it
// in large blocks, with no allocation per token.
struct scanner {
    char buf[1 << 14];
    std::size_t pos = 0;
    std::size_t len = 0;
    bool huge = false; // a token did not fit the buffer; nothing is read after it
    bool ended = false;
    gbk_reader in; // the file

    // Keeps bytes from start on and reads more behind them.
    bool refill(std::size_t start)
    {
        std::memmove(buf, buf + start, len - start);
        len -= start;
        pos -= start;
        std::size_t got = in.read(buf + len, sizeof buf - len);
        len += got;
        // Old DOS editors end a file with one Ctrl-Z; anywhere else it is
        // a byte like any other.
        if (got == 0 && !ended && len > 0 && buf[len - 1] == '\x1a') {
            --len;
            pos = std::min(pos, len);
        }
        ended = ended || got == 0;
        return got > 0;
    }

    // The next token; empty at the end of the file, on a read error, or
    // when the token is longer than the whole buffer (then huge is set).
    std::string_view next()
    {
        for (;;) {
            while (pos < len && blank(buf[pos]))
                ++pos;
            if (pos < len)
                break;
            if (!refill(len))
                return {};
        }
        std::size_t start = pos;
        for (;;) {
            while (pos < len && !blank(buf[pos]))
                ++pos;
            if (pos < len)
                break;
            // Longer than the whole buffer: no field takes it, and the
            // record it is in is refused, so nothing after it is read.
            if (start == 0 && len == sizeof buf) {
                huge = true;
                return {};
            }
            bool got = refill(start); // the token now starts the buffer
            start = 0;
            if (!got)
                break;
        }
        return {buf + start, pos - start};
    }
};

// Stores token t as field f of r; false when f cannot take it.
bool take(const scanner& s, std::string_view t, student& r, const field_info& f)
{
    if (s.huge)
        return false;
    if (f.number)
        return parse_int(t, number_of(r, f));
    // A NUL byte would cut the value short when it is stored and shift the
    // fields of the next save, so a token holding one is refused, as is a
    // character of a UTF-8 file that GBK cannot hold.
    if (t.empty() || t.size() > f.cap || t.find('\0') != t.npos || (s.in.stood_in && t.find(no_gbk) != t.npos))
        return false;
    put_text(r, f, t);
    return true;
}

load_status read_records(scanner& s, int& count, int& bad)
{
    for (;;) {
        std::string_view id = s.next();
        if (std::ferror(s.in.f))
            return load_status::unreadable;
        if (id.empty() && !s.huge)
            return load_status::ok;
        if (count == STUDENT_CAPACITY)
            return load_status::too_many;
        if (count < n)
            kept[count] = stu[count];
        student& r = stu[count++];
        r = student{};
        // Each token is stored before the next is read: reading reuses its bytes.
        bool good = take(s, id, r, fields[0]);
        for (int c = 1; good && c < field_count; ++c)
            good = take(s, s.next(), r, fields[c]);
        if (std::ferror(s.in.f))
            return load_status::unreadable;
        if (!good) {
            bad = count;
            return load_status::bad_record;
        }
    }
}

} // namespace

void undo_load(int count)
{
    std::copy(kept, kept + std::min(count, n), stu);
}

load_status load_as(std::FILE* f, int& count, int& bad, text_encoding enc, bool& strict)
{
    scanner s;
    s.in.f = f;
    s.in.utf8 = enc != text_encoding::gbk;
    count = 0;
    load_status st = read_records(s, count, bad);
    if (st != load_status::ok)
        undo_load(count);
    strict = s.in.strict;
    return st;
}

namespace {

// The first character of token that GBK cannot hold, or empty.
std::string unheld_in(std::string_view token)
{
    auto u = reinterpret_cast<const unsigned char*>(token.data());
    for (std::size_t k = 0; k < token.size();) {
        int len = utf8_length(u + k, token.size() - k);
        if (len <= 0)
            return {};
        std::string ch(token.substr(k, static_cast<std::size_t>(len)));
        if (as_gbk(ch).find(no_gbk) != std::string::npos)
            return ch;
        k += static_cast<std::size_t>(len);
    }
    return {};
}

} // namespace

void find_unheld(std::FILE* f, bool bom, int bad, int& field, std::string& ch)
{
    if (std::fseek(f, bom ? utf8_mark.size() : 0, SEEK_SET) != 0)
        return;
    scanner s; // the file's own bytes: UTF-8
    s.in.f = f;
    // Each record before the bad one took exactly one token a field.
    long first = static_cast<long>(bad - 1) * field_count;
    for (long index = 0; index < first + field_count; ++index) {
        std::string_view t = s.next();
        if (t.empty())
            return;
        if (index >= first && !(ch = unheld_in(t)).empty()) {
            field = static_cast<int>(index - first);
            return;
        }
    }
}
