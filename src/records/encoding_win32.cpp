#include "records/encoding.h"
#include "records/codepage_win32.h"

#include <windows.h>

// GB18030 where the system has it, as the console uses: its two-byte pairs
// are all the pairs a value can hold. Plain 936 (as under wine) reads some
// of them as other (private-use) characters.
UINT gbk_code_page()
{
    static const UINT cp = IsValidCodePage(54936) ? 54936 : 936;
    return cp;
}

// GB18030 has a form for everything, so it takes no best-fit flag and uses
// no default character; its four-byte forms are no GBK. 936 maps the euro
// sign to 0x80, which is no GBK character either.
int wide_to_gbk(const wchar_t* w, int n, char (&g)[4])
{
    BOOL used = FALSE;
    bool gb18030 = gbk_code_page() == 54936;
    int gn = WideCharToMultiByte(gbk_code_page(), gb18030 ? 0 : WC_NO_BEST_FIT_CHARS, w, n, g, 4, nullptr,
                                 gb18030 ? nullptr : &used);
    return gn > 0 && !used && gbk_text(g, static_cast<std::size_t>(gn)) ? gn : 0;
}

namespace {

// One UTF-8 character as GBK into g; 0 when GBK has no room for it.
int one_to_gbk(const char* p, std::size_t len, char (&g)[4])
{
    wchar_t w[2];
    int wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, p, static_cast<int>(len), w, 2);
    return wn > 0 ? wide_to_gbk(w, wn, g) : 0;
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

bool gbk_to_utf8(std::string_view gbk, std::string& out)
{
    bool whole = true;
    for (std::size_t k = 0; k < gbk.size();) {
        std::size_t len = gbk_length(gbk.data() + k, gbk.size() - k);
        wchar_t w[2];
        int wn = len == 2 ? MultiByteToWideChar(gbk_code_page(), MB_ERR_INVALID_CHARS, gbk.data() + k, 2, w, 2) : 0;
        char u[8];
        int un = wn > 0 ? WideCharToMultiByte(CP_UTF8, 0, w, wn, u, sizeof u, nullptr, nullptr) : 0;
        if (len == 2 && un > 0)
            out.append(u, static_cast<std::size_t>(un));
        else if (len == 1)
            out += gbk[k];
        else
            out += no_unicode;
        whole = whole && (len == 1 || un > 0);
        k += len == 2 && un > 0 ? 2 : 1;
    }
    return whole;
}

std::wstring wide(std::string_view utf8)
{
    int n = static_cast<int>(utf8.size());
    int len = n ? MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0) : 0;
    std::wstring w(static_cast<std::size_t>(len > 0 ? len : 0), L'\0');
    if (len > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, w.data(), len);
    return w;
}

std::string narrow(std::wstring_view w)
{
    int n = static_cast<int>(w.size());
    int len = n ? WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr) : 0;
    std::string s(static_cast<std::size_t>(len > 0 ? len : 0), '\0');
    if (len > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), n, s.data(), len, nullptr, nullptr);
    return s;
}

namespace {

// How much of [p, p + n) is whole characters.
std::size_t whole(const unsigned char* p, std::size_t n)
{
    std::size_t k = 0;
    while (k < n) {
        if (p[k] < 0x81 || p[k] == 0xff) {
            ++k;
            continue;
        }
        if (k + 1 >= n)
            break;
        std::size_t len = gbk_code_page() == 54936 && p[k + 1] >= 0x30 && p[k + 1] <= 0x39 ? 4 : 2;
        if (k + len > n)
            break;
        k += len;
    }
    return k;
}

} // namespace

std::wstring gbk_wide(std::string& cut, const char* p, std::size_t n)
{
    cut.append(p, n);
    std::size_t len = whole(reinterpret_cast<const unsigned char*>(cut.data()), cut.size());
    std::wstring w(len, L'\0');
    int got = len ? MultiByteToWideChar(gbk_code_page(), 0, cut.data(), static_cast<int>(len), w.data(),
                                        static_cast<int>(len))
                  : 0;
    w.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    cut.erase(0, len);
    return w;
}
