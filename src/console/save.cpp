#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"
#include "records/table.h"

std::string refusal_reason(const replace_result& r, const std::string& file)
{
    if (r.status == replace_status::busy)
        return file + "正被其他程序使用";
    if (r.status == replace_status::appeared)
        return file + "刚被其他程序新建";
    switch (r.cause) {
    case file_cause::file_denied: return "无权改写" + file;
    case file_cause::folder_denied: return "无权在" + file + "所在的文件夹中新建文件";
    case file_cause::read_only: return file + "所在的文件系统只读";
    case file_cause::no_room: return file + "所在的磁盘空间不足";
    case file_cause::too_long: return file + "的名称过长";
    case file_cause::unknown: break;
    }
    return {};
}

bool tell_save(const replace_result& r, void (*say_failure)(std::string_view))
{
    if (r.status == replace_status::ok)
        return true;
    std::string file = shown_name(file_path()), backup = shown_name(r.backup);
    if (r.status == replace_status::backed_up) {
        notice(file + "已被改动或未刷新,原文件已备份为" + backup);
        return true;
    }
    // A replace that the system broke off and that left the old register
    // under another name: the operator must know where it is.
    bool moved = r.status == replace_status::failed && !r.backup.empty();
    say_failure(moved ? std::string("保存失败") : "保存失败," + file + "未改变");
    // The reason, where there is one the operator can act on, apart from
    // the dialogue and after it.
    if (moved)
        notice("原" + file + "现名为" + backup);
    else if (r.status == replace_status::no_backup && r.backup.empty())
        notice("无法备份原文件,未保存");
    else if (r.status == replace_status::no_backup)
        notice("无法将原文件备份为" + backup + ",未保存");
    std::string why = moved ? std::string() : refusal_reason(r, r.status == replace_status::no_backup && !r.backup.empty() ? backup : file);
    if (!why.empty())
        notice(why);
    return false;
}

void save()
{
    tell_save(save_file(), line);
}

bool keep_unsaved(void (*then)())
{
    std::string name;
    bool kept = !dirty || save_unsaved(name);
    if (then)
        then();
    if (dirty)
        notice(kept ? "有未保存的修改,已另存为" + shown_name(name) : std::string("有未保存的修改,另存失败"));
    return kept;
}
