#include "records/encoding.h"

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

namespace {

// The length of the UTF-8 character at p when all of its n bytes are there
// and it is strict; 0 when it is not UTF-8; -1 when it goes on beyond n.
int utf8_length(const unsigned char* p, std::size_t n)
{
    unsigned char b = p[0];
    int len = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
            : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (len <= 1)
        return len;
    // The second byte's range rules out overlong forms, surrogates and
    // anything above U+10FFFF.
    unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    for (int k = 1; k < len; ++k) {
        if (static_cast<std::size_t>(k) >= n)
            return -1;
        unsigned char c = p[k];
        if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
            return 0;
    }
    return len;
}

} // namespace

void sniffer::feed(const char* p, std::size_t n)
{
    auto u = reinterpret_cast<const unsigned char*>(p);
    for (std::size_t k = 0; k < n && gbk; ++k) {
        if (lead)
            gbk = u[k] >= 0x40 && u[k] <= 0xFE && u[k] != 0x7F;
        else
            gbk = u[k] != 0x80 && u[k] != 0xFF;
        lead = !lead && u[k] >= 0x81;
    }
    for (std::size_t k = 0; k < n && first < 3; ++k, ++first)
        bom = (first == 0 || bom) && u[k] == static_cast<unsigned char>("\xEF\xBB\xBF"[first]);
    std::size_t k = 0;
    // A character cut by the last piece, completed from this one.
    while (cutlen > 0 && k < n && valid) {
        cut[cutlen++] = u[k++];
        int len = utf8_length(cut, cutlen);
        if (len == 0)
            valid = false;
        else if (len > 0)
            cutlen = 0;
    }
    while (k < n && valid) {
        int len = utf8_length(u + k, n - k);
        if (len < 0) {
            for (cutlen = 0; k < n; ++k)
                cut[cutlen++] = u[k];
            return;
        }
        valid = len > 0;
        wide = wide || len > 1;
        k += static_cast<std::size_t>(len);
    }
}

text_encoding sniffer::result() const
{
    if (bom && first == 3)
        return text_encoding::utf8_bom;
    return valid && wide && cutlen == 0 ? text_encoding::utf8 : text_encoding::gbk;
}

bool sniff_file(std::FILE* f, text_encoding& enc, bool& also_gbk)
{
    sniffer s;
    char buf[1 << 14];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0 && (s.valid || s.first < 3))
        s.feed(buf, got);
    if (std::ferror(f))
        return false;
    enc = s.result();
    also_gbk = s.gbk && !s.lead;
    std::rewind(f);
    return enc != text_encoding::utf8_bom || std::fseek(f, 3, SEEK_SET) == 0;
}

std::string as_gbk(std::string_view text)
{
    std::string out(text.size() + 4, '\0');
    const char* p = text.data();
    std::size_t left = text.size();
    std::size_t got = 0;
    while (left > 0) {
        std::size_t step = utf8_to_gbk(p, left, out.data() + got, out.size() - got);
        got += step;
        if (step == 0) { // a character cut off at the very end: no character
            out[got++] = no_gbk;
            break;
        }
    }
    out.resize(got);
    return out;
}
