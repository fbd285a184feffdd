#include "console/terminal_text.h"

#include <algorithm>

std::size_t key_length(const char* k, std::size_t n, bool gb)
{
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(k[i]); };
    std::size_t len = 1;
    if (at(0) == 0x1b && n > 1 && k[1] == '[') {
        // Parameter and intermediate bytes, then the final byte.
        len = 2;
        while (len < n && at(len) >= 0x20 && at(len) < 0x40)
            ++len;
        ++len;
    } else if (at(0) == 0x1b && n > 1 && k[1] == 'O') {
        len = 3;
    } else if (gb) {
        len = at(0) >= 0x81 ? 2 : 1;
    } else {
        len = at(0) >= 0xF0 ? 4 : at(0) >= 0xE0 ? 3 : at(0) >= 0xC0 ? 2 : 1;
    }
    return std::min(len, n);
}

std::size_t no_c1(char* p, std::size_t n)
{
    std::size_t out = 0;
    for (std::size_t k = 0; k < n; ++k) {
        // The program's own texts have none: only stored values can.
        auto next = k + 1 < n ? static_cast<unsigned char>(p[k + 1]) : 0;
        if (static_cast<unsigned char>(p[k]) == 0xC2 && next >= 0x80 && next <= 0x9F) {
            p[out++] = '?';
            ++k;
        } else {
            p[out++] = p[k];
        }
    }
    return out;
}
