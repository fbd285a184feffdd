// The file layer's hooks, one for both platforms: the seams for tests and
// benchmarks, and the console's way to end a save's wait.
#include "records/file.h"

bool (*save_fault)(save_step);
bool (*save_give_up)();
bool save_sync = true;

bool fault(save_step step)
{
    return save_fault && save_fault(step);
}

std::size_t name_start(const std::string& path)
{
    std::size_t start = path.size();
    while (start > 0 && !separator(path[start - 1]))
        --start;
    return start;
}

std::string room_for(const std::string& path, std::size_t more)
{
    std::size_t start = name_start(path);
    if (path.size() - start + more <= name_cap || more >= name_cap)
        return path;
    // Never half a character: the name may be shown to the operator.
    std::size_t end = start + name_cap - more;
    while (end > start && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80)
        --end;
    return end > start ? path.substr(0, end) : path;
}
