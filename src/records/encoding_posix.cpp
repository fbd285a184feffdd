#include "records/encoding.h"

#include <algorithm>
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

} // namespace

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict)
{
    if (!built)
        build();
    char* o = out;
    while (len > 0 && room >= 2) {
        auto u = reinterpret_cast<const unsigned char*>(in);
        if (u[0] < 0x80) { // a run of ASCII goes across as it is
            std::size_t k = ascii_run(u, std::min(len, room));
            std::memcpy(o, in, k);
            o += k;
            room -= k;
            in += k;
            len -= k;
            continue;
        }
        // The common case, a Chinese character: three bytes, whose strict
        // form the range of the code point itself checks.
        if ((u[0] & 0xF0) == 0xE0 && len >= 3 && (u[1] & 0xC0) == 0x80 && (u[2] & 0xC0) == 0x80) {
            unsigned cp = (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
            std::uint16_t g = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF) ? gbk_of[cp] : 0;
            if (g >= 0x80) {
                *o++ = static_cast<char>(g >> 8);
                *o++ = static_cast<char>(g & 0xFF);
                room -= 2;
                in += 3;
                len -= 3;
                continue;
            }
        }
        int l = utf8_length(u, len);
        if (l < 0)
            break; // the rest of it is still to come
        std::uint16_t g = 0;
        // ASCII and a strict three-byte character GBK holds went the fast
        // ways above; any other stands in as no_gbk. Every pair is beyond
        // ASCII.
        if (l == 2)
            g = gbk_of[(u[0] & 0x1F) << 6 | (u[1] & 0x3F)];
        else if (l == 4)
            g = far_gbk((u[0] & 0x07u) << 18 | (u[1] & 0x3Fu) << 12 | (u[2] & 0x3Fu) << 6 | (u[3] & 0x3Fu));
        if (g == 0) {
            *o++ = no_gbk;
        } else {
            *o++ = static_cast<char>(g >> 8);
            *o++ = static_cast<char>(g & 0xFF);
        }
        room -= g != 0 ? 2 : 1;
        strict = strict && l > 0;
        std::size_t step = l > 0 ? static_cast<std::size_t>(l) : 1;
        in += step;
        len -= step;
    }
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
