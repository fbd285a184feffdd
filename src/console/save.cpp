#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"

void save()
{
    replace_result r = save_file();
    switch (r.status) {
    case replace_status::ok: break;
    case replace_status::backed_up:
        notice("student.txt已被改动或未刷新,原文件已备份为" + r.backup);
        break;
    case replace_status::busy:
        line("保存失败,student.txt未改变");
        notice("student.txt正被其他程序使用");
        break;
    case replace_status::failed:
        // A replace the system broke off, with the old register left
        // under another name: the operator must know where it is.
        if (!r.backup.empty()) {
            line("保存失败");
            notice("原student.txt现名为" + r.backup);
            break;
        }
        line("保存失败,student.txt未改变");
        break;
    case replace_status::stopped:
    case replace_status::no_backup: line("保存失败,student.txt未改变"); break;
    }
}
