#include "console/args.h"

#include "console/argv.h"
#include "console/console.h"
#include "console/menu.h"
#include "console/screens.h"
#include "console/terminal.h"
#include "console/transfer.h"
#include "records/datafile.h"
#include "records/file.h"

#include <cstdio>
#include <string>
#include <string_view>

#ifndef STUDENT_VERSION
#error "the build passes the project's version as STUDENT_VERSION"
#endif

namespace {

const char* const usage = "用法：student [文件] [--export 输出文件 | --import 输入.csv] | -h | --version";

// One screen at most, so it is read whole before it scrolls away: these, the
// platform's editing keys, the sample when it is installed, and the options.
const char* const help[] = {
    "学生信息登记：在控制台用编号菜单登记、查询、修改、删除和列出学生，最多 1000 名。",
    "数据默认在启动时所在文件夹的 student.txt 中；只有菜单 1 读它，只有菜单 7 写它。",
    "菜单：",
};

// After the menu's entries (menu.h).
const char* const help_tail[] = {
    "第一次运行请先选 1；增加、修改或删除后选 7 保存。",
    "保存前若 student.txt 非本次所读或所存，先把它留作 student.txt.bak（.2.bak…）；",
    "退出或重读时未保存的修改存入 student.unsaved.txt（或 .unsaved.2.txt…）。",
    "程序从不读、不删这些文件：要用哪个，就把它改名为 student.txt。",
};

const char* const options[] = {
    "选项：",
    "  文件, -f 文件, --file 文件  用这个数据文件代替 student.txt",
    "  --export 输出.csv   把数据文件导出为表格（- 为标准输出），不进菜单",
    "  --export 输出.xlsx  导出为工作簿：每格有类型，学号、电话等保持原样，不被误读",
    "  --import 输入.csv   把表格中的学生加入数据文件并保存，不进菜单",
    "  -h, --help          显示本说明        --version   显示名称和版本",
};

// What the command line asks for.
struct request {
    std::string file;
    std::string csv; // the file to export to or import from
    bool exporting = false;
    bool importing = false;
};

// Writes lines that are not the dialogue to f (stdout or stderr) in the
// form its reader expects, past the dialogue's own streams, which at a
// terminal would convert them a second time.
void tell(std::FILE* f, const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l + "\n";
    std::fwrite(text.data(), 1, text.size(), f);
    std::fflush(f);
}

// An error about argument a: the program's words converted for standard
// error, the argument as it was given, so a name typed in any encoding
// reads back as typed.
std::string about(const char* before, const std::string& a, const char* after)
{
    return own_text(before, stderr) + own_name(a, stderr) + own_text(after, stderr);
}

int refuse(const std::string& why)
{
    tell(stderr, {own_text("student: ", stderr) + why, own_text(usage, stderr)});
    return 2;
}

int show_help()
{
    std::vector<std::string> lines{own_text(usage, stdout)};
    for (const char* l : help)
        lines.push_back(own_text(l, stdout));
    for (const menu_entry& e : menu_entries())
        lines.push_back(own_text(help_line(e), stdout));
    for (const char* l : help_tail)
        lines.push_back(own_text(l, stdout));
    lines.push_back(own_text(editing_keys(), stdout));
    if (std::string sample = installed_sample(); !sample.empty())
        lines.push_back(own_text("示例数据：cp ", stdout) + own_name(for_shell(sample), stdout) + " .");
    for (const char* l : options)
        lines.push_back(own_text(l, stdout));
    tell(stdout, lines);
    return 0;
}

// Reads the arguments into r; an error line when they make no sense.
std::string parse(const std::vector<std::string>& argv, request& r)
{
    bool have_file = false;
    std::size_t argc = argv.size();
    auto odd = [&](std::size_t k) { return about("无法识别的参数 \"", argv[k], "\""); };
    bool options = true;
    for (std::size_t k = 0; k < argc; ++k) {
        std::string_view a = argv[k];
        // As in every POSIX command: what follows is a name, whatever it
        // starts with.
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (!options) {
            if (have_file || a.empty())
                return odd(k);
            have_file = true;
            r.file = argv[k];
            continue;
        }
        bool takes = a == "-f" || a == "--file" || a == "--export" || a == "--import";
        // An empty name is no name: it would quietly mean student.txt.
        if (takes && (k + 1 == argc || argv[k + 1].empty()))
            return about("参数 \"", argv[k], "\" 后缺少文件名");
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

} // namespace

int args(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return start_menu;
    std::string_view a = argv[0];
    if (argv.size() == 1 && (a == "-h" || a == "--help"))
        return show_help();
    if (argv.size() == 1 && a == "--version") {
        tell(stdout, {"student " STUDENT_VERSION});
        return 0;
    }
    // A second argument is refused even after a good first one: an
    // operator who typed two meant something this program does not do.
    if (a == "-h" || a == "--help" || a == "--version")
        return refuse(about("无法识别的参数 \"", argv[1], "\""));
    request r;
    if (std::string why = parse(argv, r); !why.empty())
        return refuse(why);
    if (!r.file.empty())
        use_file(r.file);
    if (r.exporting || r.importing)
        console_command();
    if (r.exporting)
        return export_register(r.csv);
    if (r.importing)
        return import_register(r.csv);
    return start_menu;
}
