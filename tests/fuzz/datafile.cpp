// Arbitrary bytes as "student.txt". Loading either refuses the file with a
// message and leaves the table untouched, or accepts it; an accepted table
// saved and loaded again must come back the same.
#include "console/console.h"
#include "console/screens.h"
#include "records/datafile.h"
#include "records/table.h"
#include "scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

template <std::size_t N>
void field(std::string& s, const char (&f)[N])
{
    if (strnlen(f, N) == N) // not terminated inside its field
        std::abort();
    s += f;
    s += '|';
}

std::string dump()
{
    std::string s;
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        field(s, r.id);
        field(s, r.name);
        s += std::to_string(r.age) + '|';
        field(s, r.sex);
        field(s, r.birth);
        field(s, r.address);
        field(s, r.phone);
        field(s, r.email);
        s += '\n';
    }
    return s;
}

// Runs one screen and returns what it printed.
std::string quietly(void (*screen)())
{
    std::FILE* in = std::fopen("/dev/null", "r");
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    if (!in || !out)
        std::abort();
    console_use(in, out, false);
    screen();
    std::fclose(out);
    std::fclose(in);
    std::string printed(buf, len);
    std::free(buf);
    return printed;
}

void set_known_table()
{
    std::memset(stu, 0xAB, sizeof stu); // old contents beyond n must not leak in
    n = 2;
    stu[0] = student{"1", "a", 7, "m", "b", "c", "d", "e"};
    stu[1] = student{"2", "b", -7, "f", "b", "c", "d", "e"};
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    enter_scratch();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::FILE* f = std::fopen("student.txt", "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    set_known_table();
    std::string before = dump();
    if (quietly(refresh) != "刷新完成\n") {
        if (dump() != before)
            std::abort(); // a refused file touched the table
        return 0;
    }
    std::string loaded = dump();
    if (!quietly(save).empty())
        std::abort();
    set_known_table();
    if (quietly(refresh) != "刷新完成\n" || dump() != loaded)
        std::abort(); // what was saved does not load back the same
    return 0;
}
