#include "console/args.h"

#include "console/console.h"
#include "console/menu.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "records/csv.h"
#include "records/datafile.h"
#include "records/file.h"
#include "records/table.h"

#include <cstdio>
#include <string>
#include <string_view>

#ifndef STUDENT_VERSION
#error "the build passes the project's version as STUDENT_VERSION"
#endif

namespace {

const char* const usage = "用法：student [文件] [--export 输出.csv | --import 输入.csv] | -h | --version";

// One screen at most, so it is read whole before it scrolls away.
const char* const help[] = {
    "学生信息登记：在控制台用编号菜单登记、查询、修改、删除和列出学生。",
    "数据默认在启动时所在文件夹的 student.txt 中（GBK 或 UTF-8，每行一名学生，",
    "八项用空格分开），最多 1000 名。只有菜单 1 读它，只有菜单 7 写它。",
    "菜单：",
};

// After the menu's entries (menu.h).
const char* const help_tail[] = {
    "第一次运行请先选 1；增加、修改或删除后选 7 保存。",
    "选项：",
    "  文件, -f 文件, --file 文件  用这个数据文件代替 student.txt",
    "  --export 输出.csv   把数据文件导出为表格（- 为标准输出），不进菜单",
    "  --import 输入.csv   把表格中的学生加入数据文件并保存，不进菜单",
    "  -h, --help          显示本说明",
    "  --version           显示名称和版本",
};

// What the command line asks for.
struct request {
    std::string file;
    std::string csv; // the file to export to or import from
    bool exporting = false;
    bool importing = false;
};

int refuse(const std::string& why)
{
    notice("student: " + why);
    notice(usage);
    return 2;
}

// Reads the arguments into r; an error line when they make no sense.
std::string parse(const std::vector<std::string>& argv, request& r)
{
    bool have_file = false;
    std::size_t argc = argv.size();
    auto odd = [&](std::size_t k) { return format("无法识别的参数 \"%s\"", shown_name(argv[k]).c_str()); };
    for (std::size_t k = 0; k < argc; ++k) {
        std::string_view a = argv[k];
        bool takes = a == "-f" || a == "--file" || a == "--export" || a == "--import";
        if (takes && k + 1 == argc)
            return format("参数 \"%s\" 后缺少文件名", argv[k].c_str());
        if (a == "--export" || a == "--import") {
            if (r.exporting || r.importing)
                return odd(k);
            (a == "--export" ? r.exporting : r.importing) = true;
            r.csv = argv[++k];
        } else if (takes || (!a.empty() && a[0] != '-')) {
            if (have_file)
                return odd(takes ? k + 1 : k);
            have_file = true;
            r.file = argv[takes ? ++k : k];
        } else {
            return odd(k);
        }
    }
    return {};
}

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

int export_csv(const std::string& out)
{
    if (!load_for_command(false))
        return 1;
    std::string text = csv_text();
    auto write = [&text](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); };
    if (out == "-") {
        term_bytes(stdout);
        return write(stdout) && std::fflush(stdout) == 0 ? 0 : 1;
    }
    // Line ends and all as on every platform: the file is a spreadsheet's.
    replace_plan plan{};
    plan.path = out.c_str();
    plan.bytes = true;
    file_stamp now;
    replace_result r = file_replace(plan, write, now);
    if (r.status == replace_status::ok)
        return 0;
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

int import(const std::string& in)
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

} // namespace

int args(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return -1;
    std::string_view a = argv[0];
    if (argv.size() == 1 && (a == "-h" || a == "--help")) {
        line(usage);
        for (const char* l : help)
            line(l);
        for (const menu_entry& e : menu_entries())
            line(help_line(e));
        for (const char* l : help_tail)
            line(l);
        flush();
        return 0;
    }
    if (argv.size() == 1 && a == "--version") {
        line("student " STUDENT_VERSION);
        flush();
        return 0;
    }
    // A second argument is refused even after a good first one: an
    // operator who typed two meant something this program does not do.
    if (a == "-h" || a == "--help" || a == "--version")
        return refuse(format("无法识别的参数 \"%s\"", shown_name(argv[1]).c_str()));
    request r;
    if (std::string why = parse(argv, r); !why.empty())
        return refuse(why);
    if (!r.file.empty())
        use_file(r.file);
    if (r.exporting)
        return export_csv(r.csv);
    if (r.importing)
        return import(r.csv);
    return -1;
}
