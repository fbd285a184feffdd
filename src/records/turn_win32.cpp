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

// Waits, within w, until this thread owns the mutex m.
bool wait_for(HANDLE m, wait_budget& w)
{
    for (;;) {
        DWORD got = WaitForSingleObject(m, 0);
        // Abandoned: a program ended inside its turn, which is now ours.
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED)
            return true;
        if (got != WAIT_TIMEOUT || !wait_more(w))
            return false;
    }
}

// The mutex's name: the folder by its identity (so every path to it agrees,
// and a replace never changes it), the last part upper-cased, as names
// compare on Windows.
std::wstring turn_name(const std::string& path)
{
    std::size_t cut = name_start(path);
    std::string dir = cut == 0 ? "." : path.substr(0, cut);
    std::wstring given = wide(path.substr(cut));
    std::wstring last = given;
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, given.data(), static_cast<int>(given.size()), last.data(),
                 static_cast<int>(last.size()));
    std::uint64_t h = 14695981039346656037ull;
    for (wchar_t c : last)
        h = (h ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
    file_stamp folder;
    stamp_at(dir, folder, FILE_FLAG_BACKUP_SEMANTICS);
    wchar_t name[80];
    swprintf(name, 80, L"Local\\student-turn-%016llx-%016llx-%016llx", folder.dev, folder.ino, h);
    return name;
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

// The second part: the lock on the register the name leads to.
turn_status lock_register(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    while ((t.h = create(path, GENERIC_READ, share_all, OPEN_EXISTING)) == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND)
            return turn_status::moved; // gone meanwhile: start over
        if (!wait_again(e, w, why))
            return turn_status::refused;
    }
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

} // namespace

turn::~turn()
{
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (name) {
        ReleaseMutex(name);
        CloseHandle(name);
    }
}

turn_status take_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why)
{
    if (!take_name(path, t, w, why))
        return turn_status::refused;
    file_stamp named;
    if (!stamp_at(path, named)) {
        t.missing = GetLastError() == ERROR_FILE_NOT_FOUND;
        if (t.missing)
            return turn_status::mine;
    } else if (held.locked && same_file(held.stamp, named)) {
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
