#include "console/ask.h"

#include "console/console.h"

std::string ask_text(std::string_view q, std::size_t cap)
{
    for (;;) {
        prompt(q);
        std::string w = word();
        if (w.size() <= cap)
            return w;
        say("输入过长,最多%d个字节,请重新输入\n", static_cast<int>(cap));
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
