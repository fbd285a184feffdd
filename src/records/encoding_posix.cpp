#include "records/encoding.h"

#include <cstdint>
#include <cstring>
#include <iconv.h>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

// Both directions between GBK and Unicode as tables, built on first use
// from the system's own GBK converter: a lookup per character makes a
// UTF-8 register load nearly as fast as a GBK one, where a converter call
// per value would not. A register in GBK never builds them.
std::uint16_t gbk_of[0x10000];     // Unicode (BMP) to GBK; 0: none
std::uint16_t unicode_of[126 * 191]; // GBK lead 0x81.., trail 0x40..; 0: none
bool built = false;

std::size_t pair_index(unsigned char lead, unsigned char trail)
{
    return static_cast<std::size_t>(lead - 0x81) * 191 + (trail - 0x40);
}

// Converts the trail bytes of one lead in as few calls as the unmapped
// ones allow: each pair consumed gives one UTF-16 unit.
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
        char out[191 * 2];
        char* op = out;
        std::size_t room = sizeof out;
        char* start = ip;
        std::size_t r = iconv(cd, &ip, &len, &op, &room);
        for (char *p = start, *u = out; p < ip; p += 2, u += 2) {
            auto code = static_cast<std::uint16_t>(static_cast<unsigned char>(u[0]) |
                                                   static_cast<unsigned char>(u[1]) << 8);
            auto trail = static_cast<unsigned char>(p[1]);
            unicode_of[pair_index(lead, trail)] = code;
            if (gbk_of[code] == 0)
                gbk_of[code] = static_cast<std::uint16_t>(lead << 8 | trail);
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
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd == none)
        return; // then nothing converts: every character stands in as no_gbk
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        build_row(cd, static_cast<unsigned char>(lead));
    iconv_close(cd);
}

void put_utf8(std::string& out, std::uint16_t c)
{
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
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
        if (u[0] < 0x80 && u[0] != 0) { // a run of ASCII goes across as it is
            std::size_t k = 1;
            while (k < len && k < room && u[k] < 0x80 && u[k] != 0)
                ++k;
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
        int l = u[0] < 0x80 ? 1 : utf8_length(u, len);
        if (l < 0)
            break; // the rest of it is still to come
        std::uint16_t g = 0;
        // A strict three-byte character GBK holds went the fast way above;
        // any other stands in as no_gbk.
        if (l == 1 && u[0] < 0x80)
            g = u[0];
        else if (l == 2)
            g = gbk_of[(u[0] & 0x1F) << 6 | (u[1] & 0x3F)];
        if (g == 0 && u[0] != 0)
            *o++ = no_gbk;
        else if (g < 0x80)
            *o++ = static_cast<char>(g);
        else {
            *o++ = static_cast<char>(g >> 8);
            *o++ = static_cast<char>(g & 0xFF);
        }
        room -= g >= 0x80 ? 2 : 1;
        strict = strict && l > 0;
        std::size_t step = l > 0 ? static_cast<std::size_t>(l) : 1;
        in += step;
        len -= step;
    }
    return static_cast<std::size_t>(o - out);
}

void gbk_to_utf8(std::string_view gbk, std::string& out)
{
    if (!built)
        build();
    out.reserve(out.size() + gbk.size() + gbk.size() / 2);
    for (std::size_t k = 0; k < gbk.size();) {
        auto b = static_cast<unsigned char>(gbk[k]);
        std::size_t len = gbk_length(gbk.data() + k, gbk.size() - k);
        std::uint16_t c = len == 2 ? unicode_of[pair_index(b, static_cast<unsigned char>(gbk[k + 1]))] : 0;
        if (len == 2 && c != 0) {
            put_utf8(out, c);
            k += 2;
        } else {
            out += gbk[k++]; // ASCII, or no GBK character: kept as it is
        }
    }
}
