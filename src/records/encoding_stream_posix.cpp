// The streaming converter and the locale's character set, through iconv.
#include "records/encoding_posix.h"

#include <cerrno>
#include <clocale>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

namespace {

const iconv_t none = reinterpret_cast<iconv_t>(-1);

iconv_t converter(recoder& r)
{
    if (!r.cd) {
        iconv_t cd = r.to_utf8 ? iconv_open("UTF-8", "GB18030") : iconv_open("GB18030", "UTF-8");
        r.cd = cd == none ? nullptr : cd;
    }
    return r.cd ? static_cast<iconv_t>(r.cd) : none;
}

} // namespace

recoder::~recoder()
{
    if (cd)
        iconv_close(static_cast<iconv_t>(cd));
}

bool recode(recoder& r, const char* p, std::size_t n, std::string& out, int stand_in)
{
    iconv_t cd = converter(r);
    if (cd == none) {
        out.append(p, n);
        return true;
    }
    // The piece goes on from where the last one cut a character, so both
    // are converted as one text.
    r.cut.append(p, n);
    char* in = r.cut.data();
    std::size_t left = r.cut.size();
    bool whole = true;
    char buf[4096];
    while (left > 0) {
        char* o = buf;
        std::size_t room = sizeof buf;
        std::size_t got = ::iconv(cd, &in, &left, &o, &room);
        out.append(buf, static_cast<std::size_t>(o - buf));
        if (got != static_cast<std::size_t>(-1) || errno == EINVAL)
            break; // all of it, or all but a character cut off at the end
        if (errno == E2BIG)
            continue;
        whole = false; // EILSEQ
        out += stand_in < 0 ? *in : static_cast<char>(stand_in);
        ++in;
        --left;
    }
    r.cut.erase(0, r.cut.size() - left);
    return whole;
}

bool gbk_locale()
{
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    return strcasecmp(cs, "GBK") == 0 || strcasecmp(cs, "GB2312") == 0 || strcasecmp(cs, "GB18030") == 0;
}

bool recode_end(recoder& r, std::string& out, int stand_in)
{
    bool whole = r.cut.empty();
    for (char c : r.cut)
        out += stand_in < 0 ? c : static_cast<char>(stand_in);
    r.cut.clear();
    return whole;
}
