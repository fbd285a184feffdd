#include "records/encoding.h"

#include <windows.h>

namespace {

// The length of the UTF-8 character at p (of n) by its first byte; 0 when
// the text ends inside it.
std::size_t char_bytes(const char* p, std::size_t n)
{
    auto b = static_cast<unsigned char>(*p);
    std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return len <= n ? len : 0;
}

// One UTF-8 character as GBK (code page 936) into g; 0 when GBK has no
// room for it or it is no UTF-8.
int one_to_gbk(const char* p, std::size_t len, char (&g)[4])
{
    wchar_t w[2];
    int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p, static_cast<int>(len), w, 2);
    BOOL used = FALSE;
    int gn = wn > 0 ? WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w, wn, g, 4, nullptr, &used) : 0;
    return gn > 0 && !used ? gn : 0;
}

} // namespace

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict)
{
    char* o = out;
    while (len > 0 && room >= 2) {
        std::size_t clen = static_cast<unsigned char>(*in) < 0x80 ? 1 : char_bytes(in, len);
        if (clen == 0)
            break; // the rest of it is still to come
        char g[4];
        int gn = clen == 1 ? (g[0] = *in, 1) : one_to_gbk(in, clen, g);
        if (clen > 1 && utf8_length(reinterpret_cast<const unsigned char*>(in), clen) <= 0)
            strict = false;
        if (clen == 1 && static_cast<unsigned char>(*in) >= 0x80)
            strict = false;
        if (gn == 0)
            *o++ = no_gbk;
        for (int k = 0; k < gn; ++k)
            *o++ = g[k];
        room -= gn ? static_cast<std::size_t>(gn) : 1;
        in += clen;
        len -= clen;
    }
    return static_cast<std::size_t>(o - out);
}

void gbk_to_utf8(std::string_view gbk, std::string& out)
{
    for (std::size_t k = 0; k < gbk.size();) {
        std::size_t len = gbk_length(gbk.data() + k, gbk.size() - k);
        wchar_t w[2];
        int wn = len == 2 ? MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, gbk.data() + k, 2, w, 2) : 0;
        char u[8];
        int un = wn > 0 ? WideCharToMultiByte(CP_UTF8, 0, w, wn, u, sizeof u, nullptr, nullptr) : 0;
        if (len == 2 && un > 0)
            out.append(u, static_cast<std::size_t>(un));
        else
            out += gbk[k]; // ASCII, or no GBK character: kept as it is
        k += len == 2 && un > 0 ? 2 : 1;
    }
}
