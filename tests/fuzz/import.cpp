// Arbitrary bytes as a spreadsheet file given to --import, into an empty
// register, the whole command through: the file read as a stream, the
// refusal's words, the save. Any crash or overrun is a finding, and so is
// a refusal that names no row or writes a register, a success whose
// register does not hold the rows, and an export that does not import
// back to the very same rows.
#include "console/console.h"
#include "console/transfer.h"
#include "records/datafile.h"
#include "records/table.h"
#include "scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void empty_table()
{
    n = 0;
    dirty = false;
    std::memset(stu, 0, sizeof stu);
    std::remove("student.txt");
    use_file("student.txt");
}

bool same(const student& a, const student& b)
{
    return std::strcmp(a.id, b.id) == 0 && std::strcmp(a.name, b.name) == 0 && a.age == b.age &&
           std::strcmp(a.sex, b.sex) == 0 && std::strcmp(a.birth, b.birth) == 0 &&
           std::strcmp(a.address, b.address) == 0 && std::strcmp(a.phone, b.phone) == 0 &&
           std::strcmp(a.email, b.email) == 0;
}

// Runs one command with its output and notices caught; its status.
int command(int (*run)(const std::string&), const std::string& name, std::string& said)
{
    std::FILE* in = std::fopen("/dev/null", "r");
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    if (!in || !out)
        std::abort();
    console_use(in, out, false, out);
    int status = run(name);
    std::fclose(out);
    std::fclose(in);
    said.assign(buf, len);
    std::free(buf);
    return status;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    enter_scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen("in.csv", "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    empty_table();
    std::string said;
    if (command(import_register, "in.csv", said) != 0) {
        if (n != 0 || said.rfind("in.csv", 0) != 0 || std::fopen("student.txt", "r"))
            std::abort(); // a refusal that changed the table or names no row
        return 0;
    }
    std::vector<student> first(stu, stu + n);
    if (n > STUDENT_CAPACITY || command(export_register, "out.csv", said) != 0)
        std::abort(); // an imported value the export cannot carry
    empty_table();
    if (command(import_register, "out.csv", said) != 0 || n != static_cast<int>(first.size()))
        std::abort();
    for (int k = 0; k < n; ++k)
        if (!same(stu[k], first[k]))
            std::abort();
    return 0;
}
