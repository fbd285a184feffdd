#include "console/ask.h"

#include "console/console.h"

void ask_value(std::string_view q, student& r, const field_info& f)
{
    for (;;) {
        prompt(q);
        std::string w = word();
        // A word is never empty and holds no white space.
        switch (store(r, f, w, w.size() > word_cap)) {
        case value_fault::none: return;
        case value_fault::control: line("输入含有控制字符,请重新输入"); break;
        case value_fault::not_gbk: line("输入含有无法保存的字符,请重新输入"); break;
        case value_fault::too_long: say("输入过长,最多%d个字节,请重新输入\n", static_cast<int>(f.cap)); break;
        default: line("输入的不是整数,请重新输入"); break;
        }
    }
}
