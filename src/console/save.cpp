#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"

void save()
{
    switch (save_file()) {
    case replace_status::ok: break;
    case replace_status::backed_up:
        notice("student.txt已被改动或未刷新,原文件已备份为student.txt.bak");
        break;
    case replace_status::failed: line("保存失败,student.txt未改变"); break;
    }
}
