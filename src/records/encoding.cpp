#include "records/encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// How many bytes from p on (of n) are ASCII, eight at a time where it can:
// most of a register is digits, dates and mail addresses.
std::size_t ascii_run(const unsigned char* p, std::size_t n)
{
    std::size_t k = 0;
    for (std::uint64_t w; k + 8 <= n; k += 8) {
        std::memcpy(&w, p + k, 8);
        if (w & 0x8080808080808080ull)
            break;
    }
    while (k < n && p[k] < 0x80)
        ++k;
    return k;
}

// Whether the three-byte character from lead (and the top bits of the
// next byte, which decide it) is one that text holds: punctuation and
// symbols, CJK punctuation and kana, the unified ideographs, full-width
// forms. The blocks start on multiples of 64, so the last byte is not needed.
bool usual(unsigned char lead, unsigned char next)
{
    unsigned cp = (lead & 0x0Fu) << 12 | (next & 0x3Fu) << 6;
    return (cp >= 0x2000 && cp < 0x2C00) || (cp >= 0x3000 && cp < 0x3100) ||
           (cp >= 0x4E00 && cp < 0xA000) || cp >= 0xFF00;
}

} // namespace

std::size_t gbk_length(const char* p, std::size_t n)
{
    auto b = static_cast<unsigned char>(p[0]);
    if (b < 0x80)
        return 1;
    if (b == 0x80 || b == 0xFF || n < 2)
        return 0;
    auto t = static_cast<unsigned char>(p[1]);
    return (t >= 0x40 && t <= 0xFE && t != 0x7F) ? 2 : 0;
}

bool gbk_text(const char* p, std::size_t n)
{
    for (std::size_t k = 0, len; k < n; k += len)
        if ((len = gbk_length(p + k, n - k)) == 0)
            return false;
    return true;
}

void sniffer::feed(const char* p, std::size_t n)
{
    auto u = reinterpret_cast<const unsigned char*>(p);
    for (std::size_t k = 0; k < n && first < 3; ++k, ++first)
        bom = (first == 0 || bom) && u[k] == static_cast<unsigned char>(utf8_mark[first]);
    auto seen = [this](int len, unsigned char lead, unsigned char next) {
        wide = true;
        deep = deep || len >= 3;
        odd = odd || (len == 3 && !usual(lead, next));
    };
    std::size_t k = 0;
    // A character cut by the last piece, completed from this one.
    while (cutlen > 0 && k < n && valid) {
        cut[cutlen++] = u[k++];
        int len = utf8_length(cut, cutlen);
        if (len == 0)
            valid = false;
        else if (len > 0) {
            cutlen = 0;
            seen(len, cut[0], cut[1]); // a cut character is never ASCII
        }
    }
    while (k < n && valid) {
        if (u[k] < 0x80) {
            k += ascii_run(u + k, n - k);
            continue;
        }
        if ((u[k] & 0xF0) == 0xE0 && k + 2 < n && (u[k + 1] & 0xC0) == 0x80 && (u[k + 2] & 0xC0) == 0x80) {
            unsigned cp = (u[k] & 0x0Fu) << 12 | (u[k + 1] & 0x3Fu) << 6;
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) { // strict, as most are
                seen(3, u[k], u[k + 1]);
                k += 3;
                continue;
            }
        }
        int len = utf8_length(u + k, n - k);
        if (len < 0) {
            for (cutlen = 0; k < n; ++k)
                cut[cutlen++] = u[k];
            return;
        }
        if (!(valid = len > 0))
            break;
        seen(len, u[k], u[k + 1]);
        k += static_cast<std::size_t>(len);
    }
}

text_encoding sniffer::result() const
{
    if (bom && first == 3)
        return text_encoding::utf8_bom;
    return valid && wide && cutlen == 0 ? text_encoding::utf8 : text_encoding::gbk;
}

bool gbk_file(std::FILE* f)
{
    std::rewind(f);
    char buf[1 << 14];
    std::size_t got, kept = 0;
    bool ok = true;
    // A lead byte cut from its trail by the end of one read is carried to the next.
    while (ok && (got = std::fread(buf + kept, 1, sizeof buf - kept, f)) > 0) {
        std::size_t len = kept + got, k = 0;
        for (std::size_t step; k < len && (step = gbk_length(buf + k, len - k)) > 0;)
            k += step;
        kept = len - k;
        ok = kept == 0 || (kept == 1 && buf[k] != '\x80' && buf[k] != '\xFF');
        if (kept)
            buf[0] = buf[k];
    }
    ok = ok && kept == 0 && !std::ferror(f);
    std::rewind(f);
    return ok;
}

bool deep_utf8_file(std::FILE* f)
{
    std::rewind(f);
    sniffer s;
    char buf[1 << 14];
    for (std::size_t got; s.valid && (got = std::fread(buf, 1, sizeof buf, f)) > 0;)
        s.feed(buf, got);
    bool deep = s.valid && s.deep && !s.odd && s.cutlen == 0 && !std::ferror(f);
    std::rewind(f);
    return deep;
}

bool sniff_file(std::FILE* f, text_encoding& enc)
{
    sniffer s;
    char buf[1 << 14];
    std::size_t got;
    bool whole = true;
    auto decided = [&s] { return s.first == 3 && (!s.valid || s.wide); };
    while (whole && (got = std::fread(buf, 1, sizeof buf, f)) > 0) {
        // Fed a little at a time, so that a file told by its first
        // characters is not checked to the end of the block here as well as
        // where it is read.
        for (std::size_t k = 0; k < got && whole; k += 256) {
            s.feed(buf + k, std::min<std::size_t>(256, got - k));
            whole = !decided(); // once decided, the rest is checked as it is read
        }
    }
    if (std::ferror(f))
        return false;
    enc = s.result();
    // A character cut by the end of the last piece read is no fault when
    // the file goes on.
    if (!whole && s.valid && s.wide && enc == text_encoding::gbk)
        enc = text_encoding::utf8;
    std::rewind(f);
    return enc != text_encoding::utf8_bom || std::fseek(f, utf8_mark.size(), SEEK_SET) == 0;
}

std::string as_gbk(std::string_view text)
{
    // GBK is never longer than UTF-8, so one call converts all of it but a
    // character cut off at the very end, which is no character.
    std::string out(text.size() + 4, '\0');
    const char* p = text.data();
    std::size_t left = text.size();
    bool strict = true;
    std::size_t got = utf8_to_gbk(p, left, out.data(), out.size(), strict);
    if (left > 0)
        out[got++] = no_gbk;
    out.resize(got);
    return out;
}

std::size_t gbk_reader::read(char* to, std::size_t room)
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
            stood_in = true;
            return 1;
        }
        rawlen += in;
        const char* p = raw;
        std::size_t left = rawlen;
        got = utf8_to_gbk(p, left, to, room, strict);
        // Once per block, so that values need the search only where one is.
        stood_in = stood_in || std::memchr(to, no_gbk, got) != nullptr;
        std::memmove(raw, p, left);
        rawlen = left;
    }
    return got;
}
