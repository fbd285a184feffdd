#include "console/menu.h"

#include "console/console.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "records/datafile.h"
#include "records/table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// The last entry: its screen is leaving the loop.
void quit()
{
    throw leave{};
}

const menu_entry entries[] = {
    {1, "刷新学生信息", refresh, "从数据文件读入，取代内存中的全部记录"},
    {2, "查询学生信息", seek, "按学号或姓名"},
    {3, "修改学生信息", modify, "改一名学生的一项"},
    {4, "增加学生信息", add, "录入后按学号排序"},
    {5, "按学号删除信息", dele, ""},
    {6, "显示当前信息", show, "列出内存中的全部记录"},
    {7, "保存当前学生信息", save, "写回数据文件"},
    {8, "退出系统", quit, "未保存的修改另存为 student.unsaved.txt"},
};

// The longest label, in bytes: the column the padding lines up to.
std::size_t widest()
{
    std::size_t w = 0;
    for (const menu_entry& e : entries)
        w = std::max(w, std::strlen(e.label));
    return w;
}

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// The notice and the menu, shown before every choice.
void menu()
{
    line("\t\t\t\t     注意事项      ");
    line("\t\t      一：第一次运行请先刷新系统！！！！     ");
    line("\t\t      二：增加学生信息后务必保存信息！！！！    \n");
    line("\t\t\t          系统功能菜单         ");
    for (const menu_entry& e : entries)
        line(menu_line(e));
}

void dispatch(std::int32_t choice)
{
    for (const menu_entry& e : entries)
        if (e.number == choice)
            return e.screen();
    line("请在1-8之间选择");
}

// However the session ends, changes the operator has not saved are kept
// in a file of their own; the register itself is written only on request.
// The file comes first, with all the time a slow disk needs; after a
// signal, only the output that follows is bounded, as it may block for good.
// False when there was work to keep and it could not be kept.
bool end_session()
{
    int sig = term_stopped();
    bool kept = keep_unsaved(term_deadline);
    if (sig)
        term_exit(sig);
    return kept;
}

} // namespace

int run()
{
    try {
        for (;;) {
            menu();
            prompt("请选择菜单编号:");
            dispatch(choice());
            pause_key();
            clear();
        }
    } catch (const leave&) {
    } catch (const std::bad_alloc&) {
        // The session ends as at the end of input, its work kept, but it
        // did not end as asked.
        notice("内存不足,程序结束");
        end_session();
        return 1;
    }
    // Work lost is a failure, whatever ended the session: a script that
    // fed the dialogue must not take it for success.
    return end_session() ? 0 : 1;
}

std::span<const menu_entry> menu_entries()
{
    return entries;
}

// Five spaces wider than the longest entry's number and label.
std::string menu_line(const menu_entry& e)
{
    return "\t\t\t      " + padded(std::to_string(e.number) + "." + e.label, widest() + 7);
}

std::string help_line(const menu_entry& e)
{
    std::string l = "  " + std::to_string(e.number) + " ";
    return *e.help ? l + padded(e.label, widest() + 2) + e.help : l + e.label;
}
