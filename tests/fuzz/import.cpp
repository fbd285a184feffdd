// Arbitrary bytes as a spreadsheet file imported into an empty register.
// Any crash or overrun is a finding, and so is a file that imports but
// whose export does not import back to the very same rows.
#include "records/csv.h"
#include "records/table.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void empty_table()
{
    n = 0;
    dirty = false;
    std::memset(stu, 0, sizeof stu);
}

bool same(const student& a, const student& b)
{
    return std::strcmp(a.id, b.id) == 0 && std::strcmp(a.name, b.name) == 0 && a.age == b.age &&
           std::strcmp(a.sex, b.sex) == 0 && std::strcmp(a.birth, b.birth) == 0 &&
           std::strcmp(a.address, b.address) == 0 && std::strcmp(a.phone, b.phone) == 0 &&
           std::strcmp(a.email, b.email) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    empty_table();
    int added = 0;
    csv_refusal r = import_csv({reinterpret_cast<const char*>(data), size}, added);
    if (r.fault != csv_fault::none) {
        if (n != 0 || r.row < 1)
            std::abort(); // a refusal changed the table, or named no row
        return 0;
    }
    if (n != added || n > STUDENT_CAPACITY)
        std::abort();
    std::vector<student> first(stu, stu + n);
    std::string text;
    int row = 0, field = 0;
    if (!csv_text(text, row, field))
        std::abort(); // an imported value the export cannot carry
    empty_table();
    int again = 0;
    if (import_csv(text, again).fault != csv_fault::none || again != added)
        std::abort();
    for (int k = 0; k < n; ++k)
        if (!same(stu[k], first[k]))
            std::abort();
    return 0;
}
