#include "console/transfer.h"

#include "console/console.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "records/csv.h"
#include "records/datafile.h"
#include "records/file.h"
#include "records/workbook.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <string_view>

namespace {

// A request to end that came before anything was changed ends the command
// as the request says; after that, the command finishes and reports.
void ended_by_stop()
{
    if (int sig = term_stopped())
        term_exit(sig);
}

// Loads the register for a command without the menu; false, with its
// message, when it cannot. A missing register (missing set) is an empty one
// only where missing is allowed.
bool load_for_command(bool missing_is_empty, bool& missing)
{
    int bad = 0;
    load_status st = load_file(bad);
    missing = st == load_status::missing;
    if (st == load_status::ok || (missing && missing_is_empty))
        return true;
    notice(load_said(st, bad));
    tell_unheld(bad);
    return false;
}

// Whether the name asks for a workbook: it ends in .xlsx, in any case.
bool workbook_name(const std::string& name)
{
    const std::string_view ext = ".xlsx";
    auto same = [](char e, char c) { return std::tolower(static_cast<unsigned char>(c)) == e; };
    return name.size() >= ext.size() && std::equal(ext.begin(), ext.end(), name.end() - ext.size(), same);
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
    return same_file(a, b);
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
        notice(format("第%d名学生的%s含有无法导出的字符", r.row, fields[r.field].name));
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
    // Once the new file is in place, the export finishes and says so.
    if (r.status == replace_status::stopped)
        ended_by_stop();
    if (r.status == replace_status::ok)
        return 0;
    std::string why = refusal_reason(r, shown_name(out));
    if (r.status == replace_status::busy)
        notice(why);
    notice("导出失败," + shown_name(out) + "未改变");
    if (r.status != replace_status::busy && !why.empty())
        notice(why);
    return 1;
}

// Why a value was refused, in value_fault's order, given its column's
// name and its capacity.
const char* const value_refusals[] = {"", "%s为空", "%s含有空白字符", "%s含有控制字符",
                                      "%s过长,最多%d个字节", "%s含有无法保存的字符", "%s不是整数"};
static_assert(std::size(value_refusals) == static_cast<std::size_t>(value_fault::not_number) + 1);

std::string refusal(const csv_refusal& r)
{
    // Only the faults of one value or column have one.
    const char* col = r.field >= 0 && r.field < field_count ? fields[r.field].name : "";
    switch (r.fault) {
    case csv_fault::quote: return "引号不成对";
    case csv_fault::fields: return format("应有%d项,实有%lld项", field_count, r.count);
    case csv_fault::value:
        return format(value_refusals[static_cast<int>(r.value)], col, static_cast<int>(fields[r.field].cap));
    case csv_fault::taken: return "学号已存在";
    case csv_fault::too_many: return format("学生超过%d名", STUDENT_CAPACITY);
    case csv_fault::column_unknown: return "无法识别的列名\"" + r.name + "\"";
    case csv_fault::column_unnamed: return format("第%d列没有列名", r.field + 1);
    case csv_fault::column_twice: return format("\"%s\"列重复", r.name.c_str());
    case csv_fault::column_missing: return format("缺少\"%s\"列", col);
    case csv_fault::unreadable:
    case csv_fault::none: break;
    }
    return {};
}

} // namespace

int export_register(const std::string& out)
{
    bool missing;
    if (!load_for_command(false, missing))
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
    ended_by_stop();
    return write_out(out, bytes);
}

namespace {

// Adds the rows of the CSV file f (named in) to the register and saves it, inside
// the register's turn; true when the register came into being meanwhile,
// so that the whole import is done again on it.
bool import_once(const std::string& in, std::FILE* f, int& status)
{
    status = 1;
    bool missing;
    if (!load_for_command(true, missing))
        return false;
    int added = 0;
    std::rewind(f);
    csv_refusal r = import_csv(f, added);
    if (r.fault == csv_fault::unreadable) {
        notice("无法读取" + shown_name(in));
        return false;
    }
    if (r.fault != csv_fault::none) {
        notice(format("%s第%lld行: ", shown_name(in).c_str(), r.row) + refusal(r));
        return false;
    }
    ended_by_stop();
    replace_result saved = save_file(missing);
    if (saved.status == replace_status::appeared)
        return true;
    // Once the new register is in place, the import finishes and says so.
    if (saved.status == replace_status::stopped)
        ended_by_stop();
    if (!tell_save(saved, notice))
        return false;
    say("已导入%d名学生\n", added);
    flush();
    status = 0;
    return false;
}

// The import inside the register's turn, so that no other program's save
// comes between its load and its save and no row another import added is
// lost; a register that another program made meanwhile is loaded again, a
// few times at most.
int import_in_turn(const std::string& in, std::FILE* f)
{
    int status = 1;
    for (int round = 0; round < 3; ++round) {
        replace_result held{file_hold(file_path().c_str()), {}};
        ended_by_stop();
        // A register that cannot be held cannot be read either.
        if (held.status == replace_status::failed) {
            notice(load_said(load_status::unreadable, 0));
            return 1;
        }
        if (held.status != replace_status::ok) {
            notice("导入失败," + shown_name(file_path()) + "未改变");
            notice(refusal_reason(held, shown_name(file_path())));
            return 1;
        }
        bool again = import_once(in, f, status);
        file_release();
        if (!again)
            return status;
    }
    notice("导入失败," + shown_name(file_path()) + "未改变");
    return 1;
}

} // namespace

int import_register(const std::string& in)
{
    std::FILE* f = nullptr;
    file_stamp stamp;
    if (file_open(in.c_str(), f, stamp) != open_status::ok) {
        notice("无法读取" + shown_name(in));
        return 1;
    }
    int status = import_in_turn(in, f);
    std::fclose(f);
    return status;
}
