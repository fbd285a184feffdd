#include "records/workbook.h"

#include "records/encoding.h"
#include "records/fields.h"
#include "records/file.h"
#include "records/table.h"
#include "records/xlsx.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

// UTF-8 bytes, whatever the compiler does with the source's texts: 学生.
const char* const sheet_name = "\xe5\xad\xa6\xe7\x94\x9f";

// A value as the workbook holds it: UTF-8, with every "_x" that starts what
// the format reads as an escaped character (_x, four hex digits, _)
// escaped itself, as _x005F_x. False when the value holds bytes that are no
// character, which a workbook cannot hold.
bool cell_text(std::string_view gbk, std::string& out)
{
    std::string u;
    if (!gbk_to_utf8(gbk, u))
        return false;
    out.clear();
    for (std::size_t k = 0; k < u.size(); ++k) {
        if (u.compare(k, 2, "_x") == 0 && k + 7 <= u.size() && u[k + 6] == '_' &&
            std::all_of(u.begin() + k + 2, u.begin() + k + 6, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            out += "_x005F";
        out += u[k];
    }
    return true;
}

workbook_result fill(const xlsx_calls& x, lxw_workbook* wb, lxw_worksheet* ws)
{
    lxw_format* bold = x.workbook_add_format(wb);
    x.format_set_bold(bold);
    // A GBK value's width on screen is its length in bytes: one column for
    // ASCII, two for a Chinese character.
    double width[field_count];
    std::string cell;
    for (int c = 0; c < field_count; ++c) {
        cell_text(fields[c].name, cell);
        x.worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), cell.c_str(), bold);
        width[c] = static_cast<double>(std::string_view(fields[c].name).size()) + 1;
    }
    for (int k = 0; k < n; ++k) {
        auto row = static_cast<lxw_row_t>(k + 1);
        for (int c = 0; c < field_count; ++c) {
            auto col = static_cast<lxw_col_t>(c);
            std::string v = value_text(stu[k], fields[c]);
            width[c] = std::max(width[c], static_cast<double>(v.size()) + 1);
            if (fields[c].number)
                x.worksheet_write_number(ws, row, col, number_of(stu[k], fields[c]), nullptr);
            else if (!cell_text(v, cell))
                return {workbook_fault::value, k + 1, c};
            else
                x.worksheet_write_string(ws, row, col, cell.c_str(), nullptr);
        }
    }
    for (int c = 0; c < field_count; ++c)
        x.worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width[c], nullptr);
    x.worksheet_freeze_panes(ws, 1, 0);
    return {};
}

bool slurp(const std::string& path, std::string& bytes)
{
    std::FILE* f = file_open_bytes(path);
    if (!f)
        return false;
    std::string got;
    char buf[1 << 14];
    for (std::size_t k; (k = std::fread(buf, 1, sizeof buf, f)) > 0;)
        got.append(buf, k);
    bool ok = !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    if (ok)
        bytes.swap(got);
    return ok;
}

// The most the library's temporary files and the workbook can take: it writes
// each part to a file of its own in the system's temporary folder, the one the
// scratch file is in (TMPDIR, else /tmp; on Windows TMP or TEMP, as the
// full-disk test shows for Linux), and does not check those writes, so a part
// cut short for want of room would end up in a workbook it calls good. Per row:
// each cell's markup, each value escaped at worst six times its length, twice
// over for the workbook made from them; the fixed parts besides.
std::uint64_t temporary_room()
{
    return 64 * 1024 + static_cast<std::uint64_t>(n + 1) * 2 * (field_count * 64 + 6 * sizeof(student));
}

} // namespace

workbook_result workbook_bytes(std::string& bytes)
{
    // The library writes only to a named file, so the workbook is made in
    // a scratch file and handed on as bytes: the caller then puts them in
    // place the way every file of the register is put in place.
    const xlsx_calls* x = xlsx_load();
    if (!x)
        return {workbook_fault::library};
    std::string scratch;
    if (!file_scratch(scratch))
        return {workbook_fault::failed};
    if (!file_room(scratch, temporary_room())) {
        file_remove(scratch);
        return {workbook_fault::room};
    }
    lxw_workbook* wb = x->workbook_new(scratch.c_str());
    lxw_worksheet* ws = wb ? x->workbook_add_worksheet(wb, sheet_name) : nullptr;
    workbook_result r = ws ? fill(*x, wb, ws) : workbook_result{workbook_fault::failed};
    bool closed = wb && x->workbook_close(wb) == LXW_NO_ERROR;
    if (r.fault == workbook_fault::none && (!closed || !slurp(scratch, bytes)))
        r.fault = workbook_fault::failed;
    file_remove(scratch);
    return r;
}
