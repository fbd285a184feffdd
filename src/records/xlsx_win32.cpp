#include "records/xlsx.h"

const xlsx_calls* xlsx_load()
{
    // Linked in statically: the .exe stays one file to unzip, and the link
    // takes only the parts of the library and of zlib a workbook uses.
    static const xlsx_calls calls{
        .workbook_new = ::workbook_new,
        .workbook_add_worksheet = ::workbook_add_worksheet,
        .workbook_add_format = ::workbook_add_format,
        .workbook_close = ::workbook_close,
        .format_set_bold = ::format_set_bold,
        .worksheet_write_string = ::worksheet_write_string,
        .worksheet_write_number = ::worksheet_write_number,
        .worksheet_set_column = ::worksheet_set_column,
        .worksheet_freeze_panes = ::worksheet_freeze_panes,
    };
    return &calls;
}
