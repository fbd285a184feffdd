#include "console/ask.h"

#include "console/console.h"
#include "console/terminal_text.h"

#include <algorithm>

std::string ask_text(std::string_view q, std::size_t cap)
{
    for (;;) {
        prompt(q);
        std::string w = word();
        if (std::any_of(w.begin(), w.end(), control))
            line("输入含有控制字符,请重新输入");
        else if (!gbk_text(w.data(), w.size()))
            line("输入含有无法保存的字符,请重新输入");
        else if (w.size() > cap)
            say("输入过长,最多%d个字节,请重新输入\n", static_cast<int>(cap));
        else
            return w;
    }
}

std::int32_t ask_number(std::string_view q)
{
    for (;;) {
        prompt(q);
        std::int32_t v;
        if (number(v))
            return v;
        line("输入的不是整数,请重新输入");
    }
}
