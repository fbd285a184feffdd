#include "console/argv.h"

#include "records/encoding_posix.h"
#include "records/file.h"

#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

std::vector<std::string> arguments(int argc, char** argv)
{
    return {argv + (argc > 0 ? 1 : 0), argv + argc};
}

namespace {

// Off a terminal a pipe or a file is read by whatever the locale says, and
// without one the program's own GBK is the safest guess.
bool wants_utf8(std::FILE* f)
{
    bool gb = gbk_locale();
    if (::isatty(fileno(f)))
        return !gb;
    const char* cs = nl_langinfo(CODESET);
    return strcasecmp(cs, "UTF-8") == 0 || strcasecmp(cs, "UTF8") == 0;
}

} // namespace

std::string own_text(std::string_view gbk, std::FILE* f)
{
    if (!wants_utf8(f))
        return std::string(gbk);
    recoder r(true);
    std::string text;
    recode(r, gbk.data(), gbk.size(), text);
    recode_end(r, text); // a character cut off at the end, as it was
    return text;
}

std::string own_name(const std::string& name, std::FILE* f)
{
    return wants_utf8(f) ? name : shown_name(name);
}

const char* editing_keys()
{
    return "编辑回答（需libedit2）：方向键、Home、End、Ctrl-U/K删到行首/尾、上下键取回旧回答";
}
