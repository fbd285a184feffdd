#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"
#include "records/fields.h"
#include "records/file.h"

#include <cstdio>
#include <cstring>

#ifndef STUDENT_SAMPLE
#error "the build passes where it installs the sample register as STUDENT_SAMPLE"
#endif

namespace {

// After menu 1 found no register: one line on standard error naming the
// installed sample and how to copy it there, when there is one.
void hint_sample()
{
    // Off the dialogue: a first-time user who finds nothing to load learns
    // where a register to try comes from, and the transcript stays as it was.
    std::string sample = installed_sample();
    if (!sample.empty())
        notice("可先用示例数据：cp " + for_shell(shown_name(sample)) + " " +
               for_shell(shown_name(file_path())));
}

// After menu 1 found no register: where a save that was cut short left it,
// and how to take it back, when it did.
void hint_left_over()
{
    std::string left = file_left_over(file_path());
    if (!left.empty())
        notice("上次保存被中断,登记表留在" + shown_name(left) + ",改名为" + shown_name(file_path()) +
               "即可取回");
}

} // namespace

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
        prompt("cannot close the file"); // with no line break, as earlier versions showed it
        throw leave{};
    }
    line(load_said(st, bad));
    tell_unheld(bad);
    if (st == load_status::missing) {
        // The dialogue's words name no file: a mistyped name would show
        // only as an empty register.
        notice("未找到" + shown_name(file_path()));
        hint_left_over();
        hint_sample();
    }
}

void tell_unheld(int bad)
{
    int field = 0;
    std::string ch;
    if (!unheld_character(field, ch))
        return;
    // The character as typed where the terminal can show it, and by its
    // number everywhere.
    auto u = reinterpret_cast<const unsigned char*>(ch.data());
    unsigned cp = ch.size() == 1 ? u[0] : u[0] & (0xFFu >> (ch.size() + 1));
    for (std::size_t k = 1; k < ch.size(); ++k)
        cp = cp << 6 | (u[k] & 0x3Fu);
    notice(format("第%d条记录的%s含有GBK无法保存的字符\"", bad, fields[field].name) + shown_name(ch) +
           format("\"(U+%04X)", cp));
}

std::string load_said(load_status st, int bad)
{
    switch (st) {
    case load_status::ok: return "刷新完成";
    case load_status::missing: return "未找到该文件 请先创立该文件并将学生信息保存";
    case load_status::unreadable: return "读取文件出错,未刷新";
    case load_status::bad_record: return format("文件第%d条记录格式错误,未刷新", bad);
    case load_status::too_many: return format("文件中的记录超过%d条,未刷新", STUDENT_CAPACITY);
    case load_status::close_failed: break;
    }
    return "cannot close the file";
}

std::string for_shell(const std::string& name)
{
    const char* plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-/+";
    bool odd = name.empty() || name[0] == '-';
    for (char c : name)
        odd = odd || (static_cast<unsigned char>(c) < 0x80 && !std::strchr(plain, c));
    if (!odd)
        return name;
    std::string q = name[0] == '-' ? "'./" : "'";
    for (char c : name)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string installed_sample()
{
    std::string path = STUDENT_SAMPLE;
    std::FILE* f = path.empty() ? nullptr : file_open_bytes(path);
    if (!f)
        return {};
    std::fclose(f);
    return path;
}

