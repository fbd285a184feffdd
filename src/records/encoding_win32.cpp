#include "records/encoding.h"

#include <windows.h>

namespace {

// One UTF-8 character as GBK (code page 936) into g; 0 when GBK has no
// room for it. Code page 936 also maps the euro sign to 0x80, which is no
// GBK character.
int one_to_gbk(const char* p, std::size_t len, char (&g)[4])
{
    wchar_t w[2];
    int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p, static_cast<int>(len), w, 2);
    BOOL used = FALSE;
    int gn = wn > 0 ? WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, w, wn, g, 4, nullptr, &used) : 0;
    return gn > 0 && !used && gbk_text(g, static_cast<std::size_t>(gn)) ? gn : 0;
}

} // namespace

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict)
{
    char* o = out;
    while (len > 0 && room >= 2) {
        auto u = reinterpret_cast<const unsigned char*>(in);
        int l = u[0] < 0x80 ? 1 : utf8_length(u, len);
        if (l < 0)
            break; // the rest of it is still to come
        char g[4];
        // A byte that starts no UTF-8 character is one no_gbk, as is a
        // character GBK has no room for.
        int gn = l == 1 ? (g[0] = *in, 1) : l > 1 ? one_to_gbk(in, static_cast<std::size_t>(l), g) : 0;
        if (gn == 0)
            g[gn++] = no_gbk;
        for (int k = 0; k < gn; ++k)
            *o++ = g[k];
        room -= static_cast<std::size_t>(gn);
        strict = strict && l > 0;
        std::size_t step = l > 0 ? static_cast<std::size_t>(l) : 1;
        in += step;
        len -= step;
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
