#include "console/argv.h"

#include "console/recode.h"
#include "records/file.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

std::vector<std::string> arguments(int argc, char** argv)
{
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

namespace {

// Whether text for f goes out as UTF-8. A terminal is taken to speak UTF-8
// unless the locale says GBK, as the dialogue takes it; a pipe or a file
// is read by whatever the locale says, and without one the program's own
// GBK is the safest guess.
bool wants_utf8(std::FILE* f)
{
    std::setlocale(LC_CTYPE, "");
    const char* cs = nl_langinfo(CODESET);
    if (::isatty(fileno(f)))
        return strcasecmp(cs, "GBK") != 0 && strcasecmp(cs, "GB2312") != 0 &&
               strcasecmp(cs, "GB18030") != 0;
    return strcasecmp(cs, "UTF-8") == 0 || strcasecmp(cs, "UTF8") == 0;
}

} // namespace

std::string own_text(std::string_view gbk, std::FILE* f)
{
    if (!wants_utf8(f))
        return std::string(gbk);
    recoder r{iconv_open("UTF-8", "GB18030")};
    if (r.cd == reinterpret_cast<iconv_t>(-1))
        return std::string(gbk);
    std::string text;
    recode(r, gbk.data(), gbk.size(), text);
    iconv_close(r.cd);
    return text + r.cut; // a character cut off at the end, as it was
}

std::string own_name(const std::string& name, std::FILE* f)
{
    return wants_utf8(f) ? name : shown_name(name);
}

const char* editing_keys()
{
    return "编辑回答（需libedit2）：方向键、Home、End、Ctrl-U/K删到行首/尾、上下键取回旧回答";
}
