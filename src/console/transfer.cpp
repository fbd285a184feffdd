#include "console/transfer.h"

#include "console/console.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "records/csv.h"
#include "records/datafile.h"
#include "records/file.h"
#include "records/workbook.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace {

// Loads the register for a command without the menu; false, with its
// message, when it cannot. A missing register is an empty one only where
// missing is allowed.
bool load_for_command(bool missing_is_empty)
{
    int bad = 0;
    load_status st = load_file(bad);
    if (st == load_status::ok || (st == load_status::missing && missing_is_empty))
        return true;
    notice(load_said(st, bad));
    return false;
}

// Whether the name asks for a workbook: it ends in .xlsx, in any case.
bool workbook_name(const std::string& name)
{
    const std::string_view ext = ".xlsx";
    if (name.size() < ext.size())
        return false;
    for (std::size_t k = 0; k < ext.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - ext.size() + k])) != ext[k])
            return false;
    return true;
}

// Whether out is the register itself (or a link to it): exporting there
// would replace the register with a file it cannot load.
bool the_register(const std::string& out)
{
    std::FILE* f = nullptr;
    file_stamp a, b;
    if (file_open(out.c_str(), f, a) != open_status::ok)
        return false;
    std::fclose(f);
    if (file_open(file_path().c_str(), f, b) != open_status::ok)
        return false;
    std::fclose(f);
    return a.dev == b.dev && a.ino == b.ino;
}

// The register as the bytes of out's kind of file; false, with the
// reason, when it cannot be had.
bool table_bytes(const std::string& out, std::string& bytes)
{
    workbook_result r;
    if (workbook_name(out))
        r = workbook_bytes(bytes);
    else if (!csv_text(bytes, r.row, r.field))
        r.fault = workbook_fault::value; // the same words for both kinds
    if (r.fault == workbook_fault::value)
        notice(format("第%d名学生的%s含有无法导出的字符", r.row, csv_columns[r.field]));
    if (r.fault == workbook_fault::room)
        notice("临时文件夹空间不足");
    if (r.fault == workbook_fault::library)
        notice("无法导出工作簿,缺少libxlsxwriter");
    return r.fault == workbook_fault::none;
}

int write_out(const std::string& out, const std::string& bytes)
{
    auto write = [&bytes](std::FILE* f) { return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(); };
    if (out == "-") {
        // A reader that takes nothing blocks this write for good; with
        // nothing to keep or remove, a request to end may end it at once.
        term_plain_stops();
        errno = 0;
        if (term_bytes(stdout) && write(stdout) && std::fflush(stdout) == 0)
            return 0;
        // A reader that stopped reading (head) needs no word of it.
        if (errno != EPIPE)
            notice("导出失败,无法写入标准输出");
        return 1;
    }
    // Line ends and all as on every platform: the file is a spreadsheet's.
    replace_plan plan{};
    plan.path = out.c_str();
    plan.bytes = true;
    file_stamp now;
    replace_result r = file_replace(plan, write, now);
    if (r.status == replace_status::ok)
        return 0;
    if (r.status == replace_status::busy)
        notice(shown_name(out) + "正被其他程序使用");
    notice("导出失败," + shown_name(out) + "未改变");
    return 1;
}

std::string refusal(const csv_refusal& r)
{
    const char* col = csv_columns[r.field];
    switch (r.fault) {
    case csv_fault::quote: return "引号不成对";
    case csv_fault::fields: return format("应有8项,实有%d项", r.field);
    case csv_fault::empty: return format("%s为空", col);
    case csv_fault::blank: return format("%s含有空白字符", col);
    case csv_fault::control: return format("%s含有控制字符", col);
    case csv_fault::not_gbk: return format("%s含有无法保存的字符", col);
    case csv_fault::too_long: return format("%s过长,最多%d个字节", col, static_cast<int>(r.cap));
    case csv_fault::age: return "年龄不是整数";
    case csv_fault::taken: return "学号已存在";
    case csv_fault::too_many: return "学生超过1000名";
    case csv_fault::none: break;
    }
    return {};
}

} // namespace

int export_register(const std::string& out)
{
    if (!load_for_command(false))
        return 1;
    if (out != "-" && the_register(out)) {
        notice(shown_name(out) + "是数据文件本身,未导出");
        return 1;
    }
    std::string bytes;
    if (!table_bytes(out, bytes)) {
        notice("导出失败," + shown_name(out) + "未改变");
        return 1;
    }
    return write_out(out, bytes);
}

int import_register(const std::string& in)
{
    std::FILE* f = nullptr;
    file_stamp stamp;
    if (file_open(in.c_str(), f, stamp) != open_status::ok) {
        notice("无法读取" + shown_name(in));
        return 1;
    }
    std::string text;
    char buf[1 << 14];
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, got);
    bool read_ok = !std::ferror(f);
    std::fclose(f);
    if (!read_ok) {
        notice("无法读取" + shown_name(in));
        return 1;
    }
    if (!load_for_command(true))
        return 1;
    int added = 0;
    csv_refusal r = import_csv(text, added);
    if (r.fault != csv_fault::none) {
        notice(format("%s第%d行: ", shown_name(in).c_str(), r.row) + refusal(r));
        return 1;
    }
    if (!tell_save(save_file(), notice))
        return 1;
    say("已导入%d名学生\n", added);
    flush();
    return 0;
}

