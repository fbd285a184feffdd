#include "records/workbook.h"

#include "records/csv.h"
#include "records/encoding.h"
#include "records/file.h"
#include "records/table.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

// UTF-8 bytes, whatever the compiler does with the source's texts: 学生.
const char* const sheet_name = "\xe5\xad\xa6\xe7\x94\x9f";

std::string utf8(std::string_view gbk)
{
    std::string out;
    gbk_to_utf8(gbk, out);
    return out;
}

// A GBK value's width on screen is its length in bytes: one column for
// ASCII, two for a Chinese character.
void widen(double (&width)[8], int col, std::size_t bytes)
{
    width[col] = std::max(width[col], static_cast<double>(bytes) + 1);
}

void fill(lxw_workbook* wb, lxw_worksheet* ws)
{
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    double width[8] = {};
    for (int c = 0; c < 8; ++c) {
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), utf8(csv_columns[c]).c_str(), bold);
        widen(width, c, std::string_view(csv_columns[c]).size());
    }
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        const char* texts[] = {r.id, r.name, nullptr, r.sex, r.birth, r.address, r.phone, r.email};
        auto row = static_cast<lxw_row_t>(k + 1);
        for (int c = 0; c < 8; ++c) {
            auto col = static_cast<lxw_col_t>(c);
            if (!texts[c]) {
                worksheet_write_number(ws, row, col, r.age, nullptr);
                widen(width, c, std::to_string(r.age).size());
                continue;
            }
            worksheet_write_string(ws, row, col, utf8(texts[c]).c_str(), nullptr);
            widen(width, c, std::string_view(texts[c]).size());
        }
    }
    for (int c = 0; c < 8; ++c)
        worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), width[c], nullptr);
    worksheet_freeze_panes(ws, 1, 0);
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

} // namespace

bool workbook_bytes(std::string& bytes)
{
    // The library writes only to a named file, so the workbook is made in
    // a scratch file and handed on as bytes: the caller then puts them in
    // place the way every file of the register is put in place.
    std::string scratch;
    if (!file_scratch(scratch))
        return false;
    lxw_workbook* wb = workbook_new(scratch.c_str());
    lxw_worksheet* ws = wb ? workbook_add_worksheet(wb, sheet_name) : nullptr;
    if (ws)
        fill(wb, ws);
    bool ok = wb && ws && workbook_close(wb) == LXW_NO_ERROR;
    if (wb && !ws)
        workbook_close(wb);
    ok = ok && slurp(scratch, bytes);
    file_remove(scratch);
    return ok;
}
