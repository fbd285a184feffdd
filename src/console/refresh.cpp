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
    load_status st = load_file(bad);
    if (st == load_status::close_failed) {
        prompt("cannot close the file"); // with no line break, as the program always said it
        throw leave{};
    }
    line(load_said(st, bad));
}

std::string load_said(load_status st, int bad)
{
    switch (st) {
    case load_status::ok: return "刷新完成";
    case load_status::missing: return "未找到该文件 请先创立该文件并将学生信息保存";
    case load_status::unreadable: return "读取文件出错,未刷新";
    case load_status::bad_record: return format("文件第%d条记录格式错误,未刷新", bad);
    case load_status::too_many: return "文件中的记录超过1000条,未刷新";
    case load_status::close_failed: break;
    }
    return "cannot close the file";
}
