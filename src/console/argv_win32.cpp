// The wide command line split the way the C runtime splits it for main.
// The system's own splitter lives in shell32, which loads user32, and a
// console program that loads user32 no longer hears of a sign-out.
#include "console/argv.h"
#include "records/codepage_win32.h"
#include "records/file.h"

#include <string_view>
#include <windows.h>

namespace {

bool space(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The rules of the runtime since 2008: 2n backslashes before a quote are n
// backslashes and the quote opens or closes a quoted part; 2n + 1 are n and
// a literal quote; two quotes inside a quoted part are one literal quote;
// backslashes before anything else are themselves. The program's own name
// is taken apart by quotes alone, as the system finds the program by it.
std::vector<std::string> split(std::wstring_view line)
{
    std::vector<std::string> out;
    std::size_t k = 0;
    bool quoted = false;
    while (k < line.size() && (quoted || !space(line[k]))) {
        if (line[k] == L'"')
            quoted = !quoted;
        ++k;
    }
    for (;;) {
        while (k < line.size() && space(line[k]))
            ++k;
        if (k == line.size())
            return out;
        std::wstring a;
        quoted = false;
        while (k < line.size() && (quoted || !space(line[k]))) {
            std::size_t slashes = 0;
            while (k < line.size() && line[k] == L'\\')
                ++slashes, ++k;
            if (k < line.size() && line[k] == L'"') {
                a.append(slashes / 2, L'\\');
                bool doubled = slashes % 2 == 0 && quoted && k + 1 < line.size() && line[k + 1] == L'"';
                if (slashes % 2 || doubled)
                    a += L'"';
                else
                    quoted = !quoted;
                k += doubled ? 2 : 1;
            } else {
                a.append(slashes, L'\\');
                if (k < line.size() && (quoted || !space(line[k])))
                    a += line[k++];
            }
        }
        out.push_back(narrow(a));
    }
}

} // namespace

std::vector<std::string> arguments(int, char**)
{
    return split(GetCommandLineW());
}

std::string own_text(std::string_view gbk, std::FILE*)
{
    return std::string(gbk);
}

std::string own_name(const std::string& name, std::FILE*)
{
    return shown_name(name);
}

const char* editing_keys()
{
    return "编辑回答用控制台的键：方向键、Home、End，Esc 清空，上下键或 F7 取回先前的回答";
}
