// The turn between programs saving the same register at once: a lock on
// one byte far past its end.
#include "records/file.h"
#include "records/file_win32.h"

#include <cstdio>
#include <string>
#include <windows.h>

namespace {

// The turn between programs saving at once: one byte far past the end of
// any register, so a lock on it never stops anyone reading the register.
const DWORD turn_offset_high = 0x7fffffff;

turn_status open_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    for (;;) {
        t.h = create(path, GENERIC_READ, share_all, OPEN_EXISTING);
        if (t.h != INVALID_HANDLE_VALUE)
            return turn_status::mine;
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND)
            return turn_status::moved; // gone meanwhile: start over
        why = replace_status::failed;
        if (!held_elsewhere(e))
            return turn_status::refused;
        if (!wait_more(w)) {
            why = w.why;
            return turn_status::refused;
        }
    }
}

} // namespace

// Takes the turn on the register at path; moved when, once it is had, the
// name leads to another file (a save that went first replaced it).
turn_status take_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    turn_status st = open_turn(path, t, w, why);
    if (st != turn_status::mine)
        return st;
    why = replace_status::failed;
    if (fault(save_step::lock))
        return turn_status::refused;
    OVERLAPPED at{};
    at.OffsetHigh = turn_offset_high;
    while (!LockFileEx(t.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        if (GetLastError() != ERROR_LOCK_VIOLATION)
            return turn_status::refused;
        if (!wait_more(w)) {
            why = w.why;
            return turn_status::refused;
        }
    }
    file_stamp held, named;
    if (!stamp_of(t.h, held) || !stamp_at(path, named) || !same_file(held, named))
        return turn_status::moved;
    return turn_status::mine;
}
