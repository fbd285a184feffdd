// Arbitrary bytes as the operator's whole input to the main loop, in a
// scratch working directory, so loading and saving touch only a scratch
// "student.txt". Any crash, overrun or hang is a finding.
#include "console/console.h"
#include "console/screens.h"
#include "records/table.h"
#include "scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    enter_scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Every input starts from a fresh process's state, and from a folder
    // without the backups and kept work of the last one, which the program
    // never replaces.
    for (const char* name : {"student.txt", "student.txt.bak", "student.unsaved.txt"})
        std::remove(name);
    n = 0;
    std::memset(stu, 0, sizeof stu);
    std::FILE* in = size ? fmemopen(const_cast<std::uint8_t*>(data), size, "r")
                         : std::fopen("/dev/null", "r");
    std::FILE* out = std::fopen("/dev/null", "w");
    if (!in || !out)
        std::abort();
    console_use(in, out, false);
    if (run() != 0)
        std::abort();
    std::fclose(in);
    std::fclose(out);
    if (n < 0 || n > STUDENT_CAPACITY)
        std::abort();
    return 0;
}
