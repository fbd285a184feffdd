// Replacing a file whole or not at all: a fresh file beside it swapped in
// once it is safely written, a backup where one is due, and waits for
// programs that hold a file for a moment.
#include "records/file.h"
#include "records/file_win32.h"

#include <cstdio>
#include <string>
#include <windows.h>

namespace {

// Claims the first name of the backup series that nothing holds, by
// creating it empty; an earlier backup moves the series on, anything else
// there ends the search. claim is the empty file's identity.
bool claim_backup(const std::string& path, std::string& name, file_stamp& claim)
{
    for (int k = 1; k <= series_cap; ++k) {
        name = numbered(path, ".bak", k);
        HANDLE h = fault(save_step::backup)
                       ? INVALID_HANDLE_VALUE
                       : create(name, GENERIC_WRITE, 0, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE) {
            bool ok = stamp_of(h, claim);
            CloseHandle(h);
            if (!ok)
                erase(name);
            return ok;
        }
        if (!plain_file_at(name))
            return false;
    }
    return false;
}

// A fresh name for the old file when no backup is due: the replace needs
// one under wine, and it is removed once the new file is in.
bool claim_fresh(const std::string& path, std::string& name, file_stamp& claim)
{
    HANDLE h = create_fresh(path, ".old", name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = stamp_of(h, claim);
    CloseHandle(h);
    if (!ok)
        erase(name);
    return ok;
}

// One try of the system's replace, which keeps the old file's access list
// and attributes and moves the old file to kept. The test seam stands in
// for its failures: refused with both files in place, and stopped halfway
// with the old file under kept only.
bool replace_once(const std::string& path, const std::string& temp, const std::string& kept,
                  DWORD& err)
{
    if (fault(save_step::rename)) {
        err = ERROR_UNABLE_TO_MOVE_REPLACEMENT;
        return false;
    }
    if (fault(save_step::halfway)) {
        move_file(path, kept, MOVEFILE_REPLACE_EXISTING);
        err = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
        return false;
    }
    if (ReplaceFileW(wide(path).c_str(), wide(temp).c_str(), wide(kept).c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    err = GetLastError();
    return false;
}

// After a failed replace: when the name is empty and the old file sits
// under kept (and kept is not just the claim), moves it back, trying a few
// times. False when it cannot be put back.
bool put_back(const std::string& path, const std::string& kept, const file_stamp& claim)
{
    if (attributes(path) != INVALID_FILE_ATTRIBUTES)
        return true;
    if (!plain_file_at(kept) || is_file(kept, claim))
        return true; // the old file never moved there: not this program's to find
    for (DWORD pause = 1; pause <= 256; pause *= 4) {
        if (!fault(save_step::restore) && move_file(kept, path, MOVEFILE_WRITE_THROUGH))
            return true;
        Sleep(pause);
    }
    return false;
}

// Replaces, waiting while another program holds one of the files. On
// failure the old file is back under path, or r.backup names where it is.
bool replace_waiting(const std::string& path, const std::string& temp, const std::string& kept,
                     const file_stamp& claim, wait_budget& w, replace_result& r)
{
    for (;;) {
        DWORD err = 0;
        if (replace_once(path, temp, kept, err))
            return true;
        r.status = replace_status::failed;
        if (!put_back(path, kept, claim)) {
            r.backup = kept;
            return false;
        }
        if (!held_elsewhere(err))
            return false;
        if (!wait_more(w)) {
            r.status = w.why;
            return false;
        }
    }
}

// Puts the written temp in place of the existing register at path, the
// old one going to a claimed backup name when due.
void swap_in(const std::string& path, const std::string& temp, bool due, turn& t, wait_budget& w,
             replace_result& r)
{
    std::string kept;
    file_stamp claim;
    if (!(due ? claim_backup(path, kept, claim) : claim_fresh(path, kept, claim))) {
        erase(temp);
        r.status = due ? replace_status::no_backup : replace_status::failed;
        r.backup = due ? kept : std::string();
        return;
    }
    bool done = replace_waiting(path, temp, kept, claim, w, r);
    t.release();
    if (!done) {
        erase(temp);
        if (is_file(kept, claim))
            erase(kept); // still the empty claim
        return;
    }
    r.status = due ? replace_status::backed_up : replace_status::ok;
    if (due)
        r.backup = kept;
    else
        erase(kept);
}

// The first save of a register: put in place only if there still is none;
// true to try again when one came meanwhile.
bool create_first(const std::string& path, const std::function<bool(std::FILE*)>& write,
                  bool bytes, replace_result& r)
{
    r.status = replace_status::failed;
    std::string temp;
    if (!write_temp(path, write, bytes, temp))
        return false;
    if (!fault(save_step::rename) && move_file(temp, path, MOVEFILE_WRITE_THROUGH)) {
        r.status = replace_status::ok;
        return false;
    }
    bool came = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS;
    erase(temp);
    return came;
}

// One attempt at a replace; true to try again from the start.
bool replace_at(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                wait_budget& w, replace_result& r)
{
    std::string path = plan.path;
    DWORD attrs = attributes(path);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND && create_first(path, write, plan.bytes, r);
    r.status = replace_status::failed;
    // Refused as an overwrite in place would be: a folder, or read-only.
    if (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return false;
    turn t;
    switch (take_turn(path, t, w, r.status)) {
    case turn_status::moved: return true;
    case turn_status::refused: return false;
    case turn_status::mine: break;
    }
    file_stamp old;
    bool due = plan.guard && !(plan.known && stamp_of(t.h, old) && *plan.known == old);
    std::string temp;
    if (!write_temp(path, write, plan.bytes, temp))
        return false;
    swap_in(path, temp, due, t, w, r);
    return false;
}

} // namespace

replace_result file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now)
{
    wait_budget w;
    replace_result r;
    for (int tries = 0; tries < 10; ++tries) {
        r = replace_result{};
        if (!replace_at(plan, write, w, r)) {
            if (r.status == replace_status::ok || r.status == replace_status::backed_up)
                stamp_at(plan.path, now);
            return r;
        }
    }
    return replace_result{};
}

bool file_keep(const std::string& stem, const char* ext, const char* like,
               const std::function<bool(std::FILE*)>& write, std::string& name)
{
    // The new file takes the folder's access, as the register did when it
    // was first saved there.
    (void)like;
    std::string temp;
    if (!write_temp(stem, write, false, temp))
        return false;
    for (int k = 1; k <= series_cap; ++k) {
        name = numbered(stem, ext, k);
        // Moved only to a name nothing holds: never over a file, never
        // waiting for another program.
        if (!fault(save_step::rename) && move_file(temp, name, MOVEFILE_WRITE_THROUGH))
            return true;
        if (attributes(name) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    erase(temp);
    return false;
}
