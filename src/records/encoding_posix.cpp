#include "records/encoding.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <iterator>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

// Both directions between GBK and Unicode as tables, built on first use
// from the system's GB18030 converter restricted to its two-byte pairs: the
// terminal stores what a user types through the same converter, so every
// pair it can store converts here too (the euro sign, the pinyin letters,
// the user-defined areas), and a character whose GB18030 form is four
// bytes has no pair. A lookup per character makes a UTF-8 register load
// nearly as fast as a GBK one, where a converter call per value would not.
// A register in GBK never builds them.
std::uint16_t gbk_of[0x10000];       // Unicode (BMP) to GBK; 0: none
std::uint32_t unicode_of[126 * 191]; // GBK lead 0x81.., trail 0x40..; 0: none
bool built = false;

// The few pairs that GB18030 gives a character beyond the BMP (FE51 and
// the like); a search through them is as quick as a table would be.
struct far_pair {
    std::uint32_t code;
    std::uint16_t gbk;
};
far_pair far_of[16];
std::size_t far_count = 0;

std::size_t pair_index(unsigned char lead, unsigned char trail)
{
    return static_cast<std::size_t>(lead - 0x81) * 191 + (trail - 0x40);
}

void add_pair(unsigned char lead, unsigned char trail, std::uint32_t code)
{
    auto g = static_cast<std::uint16_t>(lead << 8 | trail);
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return;
    unicode_of[pair_index(lead, trail)] = code;
    if (code <= 0xFFFF && gbk_of[code] == 0)
        gbk_of[code] = g;
    else if (code > 0xFFFF && far_count < std::size(far_of))
        far_of[far_count++] = {code, g};
}

// Converts the trail bytes of one lead in as few calls as the unmapped
// ones allow: each pair consumed gives one UTF-32 unit.
void build_row(iconv_t cd, unsigned char lead)
{
    char in[191 * 2];
    std::size_t len = 0;
    for (int t = 0x40; t <= 0xFE; ++t) {
        in[len++] = static_cast<char>(lead);
        in[len++] = static_cast<char>(t);
    }
    char* ip = in;
    while (len > 0) {
        char out[191 * 4];
        char* op = out;
        std::size_t room = sizeof out;
        char* start = ip;
        std::size_t r = iconv(cd, &ip, &len, &op, &room);
        for (char *p = start, *u = out; p < ip; p += 2, u += 4) {
            std::uint32_t code = 0;
            for (int k = 3; k >= 0; --k)
                code = code << 8 | static_cast<unsigned char>(u[k]);
            add_pair(lead, static_cast<unsigned char>(p[1]), code);
        }
        if (r == static_cast<std::size_t>(-1) && len >= 2) { // no character: the next pair
            ip += 2;
            len -= 2;
        }
    }
}

void build()
{
    built = true;
    iconv_t cd = iconv_open("UTF-32LE", "GB18030");
    if (cd == none)
        cd = iconv_open("UTF-32LE", "GBK");
    if (cd == none)
        return; // then nothing converts: every character stands in as no_gbk
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        build_row(cd, static_cast<unsigned char>(lead));
    iconv_close(cd);
}

std::uint16_t far_gbk(std::uint32_t code)
{
    for (std::size_t k = 0; k < far_count; ++k)
        if (far_of[k].code == code)
            return far_of[k].gbk;
    return 0;
}

void put_utf8(std::string& out, std::uint32_t c)
{
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
}

// The GBK pair of the strict three-byte character at p (with all three
// bytes there), or 0 when it is not one or GBK does not hold it.
[[gnu::always_inline]] inline std::uint16_t three_byte_pair(const unsigned char* p)
{
    // A continuation byte's six bits, when they are below 0x40.
    unsigned c1 = p[1] ^ 0x80u, c2 = p[2] ^ 0x80u;
    if ((p[0] & 0xF0) != 0xE0 || (c1 | c2) >= 0x40)
        return 0;
    unsigned cp = (p[0] & 0x0Fu) << 12 | c1 << 6 | c2;
    // Below U+0800 it is an overlong form; surrogates have no pair.
    return cp >= 0x800 ? gbk_of[cp] : 0;
}

// Converts what it can at p the quick way, as long as eight bytes may be
// read and written: ASCII eight bytes at a time (most of a register is
// digits, dates and mail addresses), each word stored whole and the bytes
// after the run overwritten next, and the three-byte characters GBK holds
// (Chinese). Stops at anything else. Returns where out has got to.
char* convert_quick(const unsigned char*& at, const unsigned char* end, char* o, char* full)
{
    const unsigned char* p = at; // a local: what is stored through o could alias at
    // Out never moves further than in, so one bound on in keeps both eight
    // bytes from their ends.
    std::ptrdiff_t span = std::min(end - p, full - o) - 8;
    if (span < 0)
        return o;
    for (const unsigned char* last = p + span; p <= last;) {
        if (*p < 0x80) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            std::memcpy(o, &w, 8);
            std::uint64_t high = w & 0x8080808080808080ull;
            int k = high == 0 ? 8
                    : (std::endian::native == std::endian::little ? std::countr_zero(high)
                                                                   : std::countl_zero(high)) / 8;
            p += k;
            o += k;
            continue;
        }
        std::uint16_t g = three_byte_pair(p);
        if (g == 0)
            break;
        o[0] = static_cast<char>(g >> 8);
        o[1] = static_cast<char>(g & 0xFF);
        o += 2;
        p += 3;
    }
    at = p;
    return o;
}

// Puts the character of l bytes at p (l is 0 for a byte that is no UTF-8)
// that is not ASCII: its pair, or no_gbk. Every pair is beyond ASCII.
// Returns where out has got to.
char* put_other(const unsigned char* p, int l, char* o)
{
    std::uint16_t g = 0;
    if (l == 2)
        g = gbk_of[(p[0] & 0x1F) << 6 | (p[1] & 0x3F)];
    else if (l == 3)
        g = three_byte_pair(p);
    else if (l == 4)
        g = far_gbk((p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu));
    if (g == 0) {
        *o++ = no_gbk;
        return o;
    }
    *o++ = static_cast<char>(g >> 8);
    *o++ = static_cast<char>(g & 0xFF);
    return o;
}

} // namespace

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict)
{
    if (!built)
        build();
    // Worked on in locals: a byte stored through out could be any object
    // to the compiler, in and len included, which would then be read again
    // from memory after every byte.
    auto p = reinterpret_cast<const unsigned char*>(in);
    const unsigned char* const end = p + len;
    char* o = out;
    char* const full = out + room;
    bool whole = strict;
    while (p < end && full - o >= 2) {
        o = convert_quick(p, end, o, full);
        if (p == end || full - o < 2)
            break;
        // One character the careful way: near the ends, or not a common one.
        if (*p < 0x80) {
            *o++ = static_cast<char>(*p++);
            continue;
        }
        int l = utf8_length(p, static_cast<std::size_t>(end - p));
        if (l < 0)
            break; // the rest of it is still to come
        o = put_other(p, l, o);
        whole = whole && l > 0;
        p += l > 0 ? l : 1;
    }
    in = reinterpret_cast<const char*>(p);
    len = static_cast<std::size_t>(end - p);
    strict = whole;
    return static_cast<std::size_t>(o - out);
}

bool gbk_to_utf8(std::string_view gbk, std::string& out)
{
    if (!built)
        build();
    out.reserve(out.size() + gbk.size() + gbk.size() / 2);
    bool whole = true;
    for (std::size_t k = 0; k < gbk.size();) {
        auto b = static_cast<unsigned char>(gbk[k]);
        std::size_t len = gbk_length(gbk.data() + k, gbk.size() - k);
        std::uint32_t c = len == 2 ? unicode_of[pair_index(b, static_cast<unsigned char>(gbk[k + 1]))] : 0;
        if (len == 2 && c != 0) {
            put_utf8(out, c);
            k += 2;
        } else if (b < 0x80) {
            out += gbk[k++];
        } else {
            out += no_unicode;
            whole = false;
            ++k;
        }
    }
    return whole;
}
