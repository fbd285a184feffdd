#include "records/encoding.h"

#include <cerrno>
#include <iconv.h>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

// Opened once, on first use: a register in GBK never needs them.
iconv_t to_gbk = none;
iconv_t from_gbk = none;

iconv_t opened(iconv_t& cd, const char* to, const char* from)
{
    if (cd == none)
        cd = iconv_open(to, from);
    return cd;
}

// The bytes of the UTF-8 character at p (of n), at least 1: what a
// character that cannot be converted takes up.
std::size_t char_bytes(const char* p, std::size_t n)
{
    auto b = static_cast<unsigned char>(*p);
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    std::size_t k = 1;
    while (k < len && k < n && (static_cast<unsigned char>(p[k]) & 0xC0) == 0x80)
        ++k;
    return k;
}

} // namespace

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room)
{
    iconv_t cd = opened(to_gbk, "GBK", "UTF-8");
    char* o = out;
    while (len > 0 && room > 0) {
        char* ip = const_cast<char*>(in);
        std::size_t r = cd == none ? static_cast<std::size_t>(-1) : iconv(cd, &ip, &len, &o, &room);
        in = ip;
        if (r != static_cast<std::size_t>(-1) || (cd != none && (errno == E2BIG || errno == EINVAL)))
            break;
        std::size_t skip = char_bytes(in, len);
        *o++ = no_gbk;
        --room;
        in += skip;
        len -= skip;
    }
    return static_cast<std::size_t>(o - out);
}

void gbk_to_utf8(std::string_view gbk, std::string& out)
{
    iconv_t cd = opened(from_gbk, "UTF-8", "GBK");
    const char* in = gbk.data();
    std::size_t len = gbk.size();
    char buf[4096];
    while (len > 0) {
        char* ip = const_cast<char*>(in);
        char* o = buf;
        std::size_t room = sizeof buf;
        std::size_t r = cd == none ? static_cast<std::size_t>(-1) : iconv(cd, &ip, &len, &o, &room);
        in = ip;
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (r == static_cast<std::size_t>(-1) && (cd == none || errno != E2BIG)) {
            out += *in++; // no GBK character: kept as it is
            --len;
        }
    }
}
