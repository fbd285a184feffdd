#include "records/encoding.h"
#include "records/codepage_win32.h"

#include <algorithm>
#include <windows.h>

namespace {

// GB18030 where the system has it, as the console uses: its two-byte pairs
// are all the pairs a value can hold, and it agrees with GBK on every GBK
// character. Plain 936 (as under wine) reads some of them as other
// (private-use) characters.
UINT gbk_code_page()
{
    static const UINT cp = IsValidCodePage(54936) ? 54936 : 936;
    return cp;
}

} // namespace

// GB18030 has a form for everything, so it takes no best-fit flag and uses
// no default character; its four-byte forms are no GBK. 936 maps the euro
// sign to 0x80, which is no GBK character either.
std::string wide_gbk(std::wstring_view w, char none)
{
    bool gb18030 = gbk_code_page() == 54936;
    std::string s;
    for (std::size_t k = 0; k < w.size(); ++k) {
        char g[4];
        BOOL used = FALSE;
        bool pair = IS_HIGH_SURROGATE(w[k]) && k + 1 < w.size() && IS_LOW_SURROGATE(w[k + 1]);
        bool surrogate = IS_HIGH_SURROGATE(w[k]) || IS_LOW_SURROGATE(w[k]);
        int n = surrogate ? 0 : WideCharToMultiByte(gbk_code_page(), gb18030 ? 0 : WC_NO_BEST_FIT_CHARS, &w[k], 1,
                                                    g, 4, nullptr, gb18030 ? nullptr : &used);
        bool held = n > 0 && !used && gbk_text(g, static_cast<std::size_t>(n));
        s.append(held ? g : &none, held ? static_cast<std::size_t>(n) : 1);
        k += pair;
    }
    return s;
}

std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict)
{
    char* o = out;
    while (len > 0 && room >= 2) {
        auto u = reinterpret_cast<const unsigned char*>(in);
        int l = u[0] < 0x80 ? 1 : utf8_length(u, len);
        if (l < 0)
            break; // the rest of it is still to come
        std::size_t step = l > 0 ? static_cast<std::size_t>(l) : 1;
        // A byte that starts no UTF-8 character is one no_gbk, as is a
        // character GBK has no room for.
        std::string g = l > 1 ? wide_gbk(wide(std::string_view(in, step)), no_gbk)
                              : std::string(1, l == 1 ? *in : no_gbk);
        o = std::copy(g.begin(), g.end(), o);
        room -= g.size();
        strict = strict && l > 0;
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
        // Empty when the pair has no Unicode form, or no character starts here.
        std::string u = len == 1 ? std::string(1, gbk[k])
                                 : narrow(std::wstring_view(w, static_cast<std::size_t>(wn)));
        out += u.empty() ? no_unicode : u;
        whole = whole && !u.empty();
        k += u.empty() ? 1 : len;
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
        // A lead byte starts a pair, or in GB18030 a four-byte form when a
        // digit follows it.
        bool four = k + 1 < n && gbk_code_page() == 54936 && p[k + 1] >= 0x30 && p[k + 1] <= 0x39;
        std::size_t len = p[k] < 0x81 || p[k] == 0xff ? 1 : four ? 4 : 2;
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
