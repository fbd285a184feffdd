#include "records/xlsx.h"

#include <dlfcn.h>

namespace {

template <typename F>
bool find(void* h, const char* name, F& f)
{
    f = reinterpret_cast<F>(::dlsym(h, name));
    return f != nullptr;
}

bool load(xlsx_calls& c)
{
    void* h = ::dlopen("libxlsxwriter.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!h)
        return false;
    if (!find(h, "workbook_new", c.workbook_new) ||
        !find(h, "workbook_add_worksheet", c.workbook_add_worksheet) ||
        !find(h, "workbook_add_format", c.workbook_add_format) ||
        !find(h, "workbook_close", c.workbook_close) || !find(h, "format_set_bold", c.format_set_bold) ||
        !find(h, "worksheet_write_string", c.worksheet_write_string) ||
        !find(h, "worksheet_write_number", c.worksheet_write_number) ||
        !find(h, "worksheet_set_column", c.worksheet_set_column) ||
        !find(h, "worksheet_freeze_panes", c.worksheet_freeze_panes)) {
        ::dlclose(h);
        c = {};
        return false;
    }
    return true;
}

} // namespace

const xlsx_calls* xlsx_load()
{
    // Loaded at the first workbook and kept for the process: the library
    // brings compression and cryptography libraries with it, whose loading
    // used to cost every start more than the rest of it, for sessions that
    // never write a workbook. A system without it still runs the program.
    static xlsx_calls calls;
    static const bool loaded = load(calls);
    return loaded ? &calls : nullptr;
}
