#include "console/recode.h"

#include "console/terminal_text.h"

#include <cerrno>

std::size_t convert(iconv_t cd, const char*& p, std::size_t& len, char* dst, std::size_t room,
                    int stand_in)
{
    char* o = dst;
    while (len > 0 && room > 0) {
        char* ip = const_cast<char*>(p);
        std::size_t r = iconv(cd, &ip, &len, &o, &room);
        p = ip;
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG || errno == EINVAL)
            break;
        *o++ = stand_in < 0 ? *p : static_cast<char>(stand_in); // EILSEQ
        ++p;
        --len;
        --room;
    }
    return static_cast<std::size_t>(o - dst);
}

void recode(recoder& r, const char* p, std::size_t n, std::string& out)
{
    // The piece goes on from where the last one cut a character, so both
    // are converted as one text.
    r.cut.append(p, n);
    const char* q = r.cut.data();
    std::size_t left = r.cut.size();
    std::size_t start = out.size();
    char conv[4096];
    std::size_t got;
    while (left > 0 && (got = convert(r.cd, q, left, conv, sizeof conv)) > 0)
        out.append(conv, got);
    r.cut.erase(0, r.cut.size() - left);
    out.resize(start + no_c1(out.data() + start, out.size() - start));
}
