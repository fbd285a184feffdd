#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"

void refresh()
{
    // A load replaces the table, so work not yet saved is kept first, as
    // at the end of a session; where it cannot be kept, it is not replaced.
    if (!keep_unsaved()) {
        line("有未保存的修改,未刷新");
        return;
    }
    int bad = 0;
    switch (load_file(bad)) {
    case load_status::ok: line("刷新完成"); break;
    case load_status::missing: line("未找到该文件 请先创立该文件并将学生信息保存"); break;
    case load_status::unreadable: line("读取文件出错,未刷新"); break;
    case load_status::bad_record: say("文件第%d条记录格式错误,未刷新\n", bad); break;
    case load_status::too_many: line("文件中的记录超过1000条,未刷新"); break;
    case load_status::close_failed:
        prompt("cannot close the file");
        throw leave{};
    }
}
