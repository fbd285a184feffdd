// The turn between programs saving the same register at once: a mutex
// named after the register's name, and a lock on one byte far past the
// register's end for programs that share the folder from elsewhere.
#include "records/file.h"
#include "records/file_win32.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <windows.h>

void (*turn_widen)();

namespace {

// One byte far past the end of any register, so a lock on it never stops
// anyone reading the register.
const DWORD turn_offset_high = 0x7fffffff;

std::wstring hex(std::uint64_t v)
{
    wchar_t b[17];
    swprintf(b, 17, L"%016llx", static_cast<unsigned long long>(v));
    return b;
}

// The mutex's name: the folder by its identity (so every path to it agrees,
// and a replace never changes it), the last part upper-cased, as names
// compare on Windows.
std::wstring turn_name(const std::string& path)
{
    std::size_t cut = path.find_last_of("/\\");
    std::string dir = cut == std::string::npos ? "." : path.substr(0, cut + 1);
    std::wstring given = wide(cut == std::string::npos ? path : path.substr(cut + 1));
    std::wstring last = given;
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, given.data(), static_cast<int>(given.size()), last.data(),
                 static_cast<int>(last.size()));
    std::uint64_t h = 14695981039346656037ull;
    for (wchar_t c : last)
        h = (h ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
    file_stamp folder;
    HANDLE d = CreateFileW(wide(dir).c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (d != INVALID_HANDLE_VALUE) {
        stamp_of(d, folder);
        CloseHandle(d);
    }
    return L"Local\\student-turn-" + hex(folder.dev) + L"-" + hex(folder.ino) + L"-" + hex(h);
}

// The first part of the turn: the name. Within this thread's own turn it
// is had at once (a mutex counts its owner's waits; so a hold and the saves
// inside it must be on one thread). Where no such mutex can be made at all,
// the lock on the register is the whole turn, as it used to be.
bool take_name(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    t.name = CreateMutexW(nullptr, FALSE, turn_name(path).c_str());
    why = replace_status::failed;
    if (!t.name || wait_for(t.name, w))
        return true;
    CloseHandle(t.name);
    t.name = nullptr;
    why = w.why;
    return false;
}

turn_status open_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    for (;;) {
        t.h = create(path, GENERIC_READ, share_all, OPEN_EXISTING);
        if (t.h != INVALID_HANDLE_VALUE)
            return turn_status::mine;
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND)
            return turn_status::moved; // gone meanwhile: start over
        if (!wait_again(e, w, why))
            return turn_status::refused;
    }
}

// The second part: the lock on the register the name leads to.
turn_status lock_register(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    turn_status st = open_turn(path, t, w, why);
    if (st != turn_status::mine)
        return st;
    why = replace_status::failed;
    if (fault(save_step::lock))
        return turn_status::refused;
    OVERLAPPED at{};
    at.OffsetHigh = turn_offset_high;
    while (!LockFileEx(t.h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        if (!wait_again(GetLastError(), w, why))
            return turn_status::refused;
    file_stamp named;
    if (!stamp_of(t.h, t.file) || !stamp_at(path, named) || !same_file(t.file, named))
        return turn_status::moved;
    return turn_status::mine;
}

// Whether the hold's lock is on the file named stamps.
bool held_here(const file_stamp& named)
{
    return held.locked && same_file(held.stamp, named);
}

} // namespace

void turn::release()
{
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (name) {
        ReleaseMutex(name);
        CloseHandle(name);
    }
    name = nullptr;
}

turn_status take_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    if (!take_name(path, t, w, why))
        return turn_status::refused;
    file_stamp named;
    if (!stamp_at(path, named)) {
        DWORD e = GetLastError();
        t.missing = e == ERROR_FILE_NOT_FOUND;
        if (t.missing)
            return turn_status::mine;
    } else if (held_here(named)) {
        t.file = named; // this program's own hold: its lock is this turn's
        return turn_status::mine;
    }
    return lock_register(path, t, w, why);
}

bool gone(const std::string& path, wait_budget& w)
{
    turn t;
    replace_status why;
    // Not had within the wait: nothing says the register is coming back.
    if (!take_name(path, t, w, why))
        return true;
    DWORD attrs = attributes(path);
    DWORD e = GetLastError();
    return attrs == INVALID_FILE_ATTRIBUTES && (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND);
}
