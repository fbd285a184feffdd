#include "console/console.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "records/datafile.h"
#include "records/table.h"

#include <cstdint>

namespace {

// The notice and the menu, shown before every choice. The menu lines are
// padded to one width so they line up under the title.
void menu()
{
    static const char* const rows[] = {
        "\t\t\t\t     注意事项      ",
        "\t\t      一：第一次运行请先刷新系统！！！！     ",
        "\t\t      二：增加学生信息后务必保存信息！！！！    \n",
        "\t\t\t          系统功能菜单         ",
        "\t\t\t      1.刷新学生信息         ",
        "\t\t\t      2.查询学生信息         ",
        "\t\t\t      3.修改学生信息         ",
        "\t\t\t      4.增加学生信息         ",
        "\t\t\t      5.按学号删除信息       ",
        "\t\t\t      6.显示当前信息         ",
        "\t\t\t      7.保存当前学生信息     ",
        "\t\t\t      8.退出系统             ",
    };
    for (const char* r : rows)
        line(r);
}

void dispatch(std::int32_t choice)
{
    switch (choice) {
    case 1: refresh(); break;
    case 2: seek(); break;
    case 3: modify(); break;
    case 4: add(); break;
    case 5: dele(); break;
    case 6: show(); break;
    case 7: save(); break;
    case 8: throw leave{};
    default: line("请在1-8之间选择"); break;
    }
}

// However the session ends, changes the operator has not saved are kept
// in a file of their own; the register itself is written only on request.
// The file comes first, with all the time a slow disk needs; after a
// signal, only the output that follows is bounded, as it may block for good.
void end_session()
{
    int sig = term_stopped();
    keep_unsaved(term_deadline);
    if (sig)
        term_exit(sig);
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
    }
    end_session();
    return 0;
}
