#include "console/terminal_text.h"

#include <algorithm>

std::size_t key_length(const char* k, std::size_t n, bool gb)
{
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(k[i]); };
    std::size_t len = 1;
    if (at(0) == 0x1b) {
        if (n < 2)
            return 0;
        if (k[1] == '[' && n > 2 && k[2] == '[') {
            len = 4; // the Linux console's F1 to F5
        } else if (k[1] == '[') {
            // Parameter and intermediate bytes, then the final byte.
            len = 2;
            while (len < n && at(len) >= 0x20 && at(len) < 0x40)
                ++len;
            ++len;
        } else if (k[1] == 'O') {
            len = 3;
        } else {
            // Alt and a key: ESC and whatever that key sends.
            std::size_t rest = key_length(k + 1, n - 1, gb);
            return rest ? rest + 1 : 0;
        }
    } else if (gb) {
        len = at(0) >= 0x81 ? 2 : 1;
    } else {
        len = at(0) >= 0xF0 ? 4 : at(0) >= 0xE0 ? 3 : at(0) >= 0xC0 ? 2 : 1;
    }
    return len <= n ? len : 0;
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

void mask_shown(char* p, std::size_t n)
{
    for (std::size_t k = 0; k < n;) {
        std::size_t len = gbk_length(p + k, n - k);
        if (len == 0 || (len == 1 && p[k] != '\n' && control(p[k])))
            p[k] = '?';
        k += len ? len : 1;
    }
}

answer_at first_answer(const char* p, std::size_t n)
{
    std::size_t from = 0;
    while (from < n && blank(p[from]))
        ++from;
    std::size_t to = from;
    while (to < n && !blank(p[to]))
        ++to;
    return {from, to};
}
