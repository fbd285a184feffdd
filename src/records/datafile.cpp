#include "records/datafile.h"

#include "records/encoding.h"
#include "records/number.h"
#include "records/table.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// The register, as the operator named it, and the encoding it was last
// loaded in, which a save keeps.
std::string file_name = "student.txt";
text_encoding file_encoding = text_encoding::gbk;

// The file as this program last loaded or saved it; a save over anything
// else keeps a backup first.
file_stamp known;
bool have_known = false;

// The records in use that a load has overwritten so far, put back when
// the file turns out bad. Only slots below n are kept: the rest are outside
// the register, so a first load needs no room here at all.
student kept[STUDENT_CAPACITY];

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Splits a file into white-space separated tokens in one pass, reading it
// in large blocks, with no allocation per token.
struct scanner {
    std::FILE* f = nullptr;
    char buf[1 << 14];
    std::size_t pos = 0;
    std::size_t len = 0;
    bool huge = false; // a token did not fit the buffer; nothing is read after it
    bool ended = false;
    bool utf8 = false; // the file is UTF-8: converted to GBK as it is read
    bool strict = true; // and all of it read so far was strict UTF-8
    char raw[1 << 14];
    std::size_t rawlen = 0;

    // Reads up to room bytes, as GBK, into to; 0 only at the end.
    std::size_t read(char* to, std::size_t room)
    {
        if (!utf8)
            return std::fread(to, 1, room, f);
        std::size_t got = 0;
        while (got == 0 && room >= 4) {
            // No more in than fits out: GBK is never longer than UTF-8.
            std::size_t want = std::min(sizeof raw - rawlen, room - std::min(room, rawlen));
            std::size_t in = std::fread(raw + rawlen, 1, want, f);
            if (in == 0 && want > 0) {
                if (rawlen == 0)
                    return 0;
                rawlen = 0; // a character cut off at the very end: no character
                to[0] = no_gbk;
                strict = false;
                return 1;
            }
            rawlen += in;
            const char* p = raw;
            std::size_t left = rawlen;
            got = utf8_to_gbk(p, left, to, room, strict);
            std::memmove(raw, p, left);
            rawlen = left;
        }
        return got;
    }

    // Keeps bytes from start on and reads more behind them.
    bool refill(std::size_t start)
    {
        std::memmove(buf, buf + start, len - start);
        len -= start;
        pos -= start;
        std::size_t got = read(buf + len, sizeof buf - len);
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

template <std::size_t N>
bool text(scanner& s, char (&field)[N])
{
    std::string_view t = s.next();
    // A NUL byte would cut the value short when it is stored and shift the
    // fields of the next save, so a token holding one is refused, as is a
    // character of a UTF-8 file that GBK cannot hold.
    if (s.huge || t.empty() || t.size() >= N || t.find('\0') != t.npos ||
        (s.utf8 && t.find(no_gbk) != t.npos))
        return false;
    put(field, t);
    return true;
}

// Fills r from the tokens after its id; false if any is missing or bad.
bool rest(scanner& s, student& r)
{
    if (!text(s, r.name))
        return false;
    std::string_view age = s.next();
    if (s.huge || !parse_int(age, r.age))
        return false;
    return text(s, r.sex) && text(s, r.birth) && text(s, r.address) &&
           text(s, r.phone) && text(s, r.email);
}

load_status read_records(scanner& s, int& count, int& bad)
{
    for (;;) {
        std::string_view id = s.next();
        if (std::ferror(s.f))
            return load_status::unreadable;
        if (id.empty() && !s.huge)
            return load_status::ok;
        if (count == STUDENT_CAPACITY)
            return load_status::too_many;
        if (count < n)
            kept[count] = stu[count];
        student& r = stu[count++];
        r = student{};
        // The id is stored before reading on: the next reads reuse its bytes.
        bool good = !s.huge && id.size() <= ID_CAP && id.find('\0') == id.npos &&
                    !(s.utf8 && id.find(no_gbk) != id.npos);
        if (good) {
            put(r.id, id);
            good = rest(s, r);
        }
        if (std::ferror(s.f))
            return load_status::unreadable;
        if (!good) {
            bad = count;
            return load_status::bad_record;
        }
    }
}

} // namespace

namespace {

// Puts back the records in use that a load of count records overwrote.
void undo(int count)
{
    std::copy(kept, kept + std::min(count, n), stu);
}

} // namespace

namespace {

// strict: the file read as UTF-8 was strict UTF-8 as far as it was read.
load_status load_as(std::FILE* f, int& count, int& bad, text_encoding enc, bool& strict)
{
    scanner s;
    s.f = f;
    s.utf8 = enc != text_encoding::gbk;
    count = 0;
    load_status st = read_records(s, count, bad);
    if (st != load_status::ok)
        undo(count);
    strict = s.strict;
    return st;
}

} // namespace

load_status load(std::FILE* f, int& count, int& bad, text_encoding enc)
{
    bool strict;
    return load_as(f, count, bad, enc, strict);
}

load_status load_file(int& bad)
{
    std::FILE* f = nullptr;
    file_stamp stamp;
    switch (file_open(file_name.c_str(), f, stamp)) {
    case open_status::missing: forget_file(); return load_status::missing;
    case open_status::failed: forget_file(); return load_status::unreadable;
    case open_status::ok: break;
    }
    int count = 0;
    text_encoding enc;
    bool strict = true;
    load_status st = sniff_file(f, enc) ? load_as(f, count, bad, enc, strict) : load_status::unreadable;
    // A file that began as UTF-8 but is not all strict UTF-8 is GBK; so is
    // one that is both ("女" alone is) whose UTF-8 reading does not load.
    if (enc == text_encoding::utf8 &&
        (!strict || (st == load_status::bad_record && gbk_file(f)))) {
        std::rewind(f);
        enc = text_encoding::gbk;
        st = load(f, count, bad, enc);
    }
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (!closed && st == load_status::ok) {
        undo(count);
        st = load_status::close_failed;
    }
    if (st == load_status::ok) {
        n = count;
        dirty = false;
        known = stamp;
        have_known = true;
        file_encoding = enc;
    } else {
        forget_file(); // the table no longer matches any file
    }
    return st;
}

void forget_file()
{
    have_known = false;
}

void use_file(std::string_view path)
{
    file_name = path;
    forget_file();
    file_encoding = text_encoding::gbk;
}

const std::string& file_path()
{
    return file_name;
}

std::string extension(const std::string& path)
{
    std::size_t base = path.size();
    while (base > 0 && !separator(path[base - 1]))
        --base;
    std::size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > base ? path.substr(dot) : std::string();
}

namespace {

bool write_gbk(std::FILE* f)
{
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        if (fault(save_step::write) ||
            std::fprintf(f, "%s %s %d %s %s %s %s %s\n", r.id, r.name, r.age, r.sex,
                         r.birth, r.address, r.phone, r.email) < 0)
            return false;
    }
    return true;
}

// A register that came in UTF-8 goes back in UTF-8, with its mark if it
// had one, so the editor it came from still reads it.
bool write_utf8(std::FILE* f)
{
    std::string text = file_encoding == text_encoding::utf8_bom ? "\xEF\xBB\xBF" : "";
    char line[256];
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        int len = std::snprintf(line, sizeof line, "%s %s %d %s %s %s %s %s\n", r.id, r.name, r.age,
                                r.sex, r.birth, r.address, r.phone, r.email);
        if (fault(save_step::write) || len < 0)
            return false;
        gbk_to_utf8({line, static_cast<std::size_t>(len)}, text);
    }
    return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

bool write_records(std::FILE* f)
{
    return file_encoding == text_encoding::gbk ? write_gbk(f) : write_utf8(f);
}

} // namespace

replace_result save_file()
{
    replace_plan plan{};
    plan.path = file_name.c_str();
    plan.guard = true;
    plan.known = have_known ? &known : nullptr;
    file_stamp now;
    replace_result r = file_replace(plan, write_records, now);
    if (r.status == replace_status::ok || r.status == replace_status::backed_up) {
        known = now;
        have_known = true;
        dirty = false;
    }
    return r;
}

namespace {

// The table as it was last kept apart, and where: the same work is not
// kept twice (a load that fails again and again over the same changes).
std::uint64_t kept_print = 0;
std::string kept_name;

std::uint64_t fingerprint()
{
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    auto mix = [&h](const void* p, std::size_t len) {
        for (std::size_t k = 0; k < len; ++k) {
            h ^= static_cast<const unsigned char*>(p)[k];
            h *= 1099511628211ull;
        }
    };
    mix(&n, sizeof n);
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        for (const char* f : {r.id, r.name, r.sex, r.birth, r.address, r.phone, r.email})
            mix(f, std::strlen(f) + 1);
        mix(&r.age, sizeof r.age);
    }
    return h;
}

} // namespace

bool save_unsaved(std::string& name)
{
    std::uint64_t print = fingerprint();
    std::FILE* f = nullptr;
    file_stamp stamp;
    if (!kept_name.empty() && print == kept_print &&
        file_open(kept_name.c_str(), f, stamp) == open_status::ok) {
        std::fclose(f);
        name = kept_name;
        return true;
    }
    // A file of its own each time, beside the register: never one that an
    // earlier session kept, and never a link planted under the name.
    std::string ext = extension(file_name);
    std::string stem = file_name.substr(0, file_name.size() - ext.size()) + ".unsaved";
    if (!file_keep(stem, ext.c_str(), file_name.c_str(), write_records, name))
        return false;
    kept_print = print;
    kept_name = name;
    return true;
}
