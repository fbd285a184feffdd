// Replacing a file whole or not at all: a fresh file beside it swapped in
// once it is safely written, a backup where one is due, and waits for
// programs that hold a file for a moment.
#include "records/file.h"
#include "records/file_win32.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

DWORD rename_fault_error = ERROR_WRITE_PROTECT;

namespace {

// Claims the first name of the backup series that nothing holds, by
// creating it empty; an earlier backup moves the series on, anything else
// there ends the search.
bool claim_backup(const std::string& path, std::string& name)
{
    for (int k = 1; k <= series_cap; ++k) {
        // Cut short where the register's name leaves no room, so a backup
        // is never refused for want of a name.
        name = numbered(room_for(path, std::strlen(".9999.bak")), ".bak", k);
        HANDLE h = fault(save_step::backup)
                       ? INVALID_HANDLE_VALUE
                       : create(name, GENERIC_WRITE, 0, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return true;
        }
        if (!plain_file_at(name))
            return false;
    }
    return false;
}

// A fresh name for the old file when no backup is due: the replace needs
// one under wine, and it is removed once the new file is in.
bool claim_fresh(const std::string& path, std::string& name)
{
    HANDLE h = create_fresh(path, ".old", name);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

// One try of the system's replace, which keeps the old file's access list
// and attributes and moves the old file to kept. The test seam stands in
// for its failures: refused with both files in place, and stopped halfway
// with the old file under kept only.
bool replace_once(const std::string& path, const std::string& temp, const std::string& kept,
                  DWORD& err)
{
    if (fault(save_step::rename)) {
        err = rename_fault_error;
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

// After a replace stopped halfway, with the old file under kept only:
// moves it back, trying a few times. False when it stays under kept.
bool put_back(const std::string& path, const std::string& kept)
{
    for (DWORD pause = 1; pause <= 256; pause *= 4) {
        if (!fault(save_step::restore) && move_file(kept, path, MOVEFILE_WRITE_THROUGH))
            return true;
        Sleep(pause);
    }
    return false;
}

// Replaces, waiting while another program holds one of the files. What
// became of the files is told by the error, never by their identities,
// which on FAT and exFAT move with a rename. On failure the old file is
// back under path, or r.backup names where it is; claimed says whether
// kept is still only the empty claim, for the caller to remove.
bool replace_waiting(const std::string& path, const std::string& temp, const std::string& kept,
                     wait_budget& w, replace_result& r, bool& claimed)
{
    for (;;) {
        DWORD err = 0;
        if (replace_once(path, temp, kept, err))
            return true;
        r.status = replace_status::failed;
        // Halfway: the old file is under kept, or wherever the system left
        // it; kept is never removed from here on.
        if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 || attributes(path) == INVALID_FILE_ATTRIBUTES) {
            claimed = false;
            if (!put_back(path, kept))
                r.backup = kept;
            return false;
        }
        if (!held_elsewhere(err)) {
            r.cause = cause_of(err, file_cause::file_denied);
            return false;
        }
        if (!wait_more(w)) {
            r.status = gave_up(err, w);
            r.cause = cause_of(err, file_cause::file_denied);
            return false;
        }
    }
}

// Takes the file now at path as this program's own save (now) only when it
// is the one written, mine: another program's is never taken for it.
void take_as_own(const std::string& path, const file_stamp& mine, file_stamp& now)
{
    if (turn_widen)
        turn_widen();
    file_stamp at;
    now = stamp_at(path, at) && same_file(at, mine) ? at : file_stamp{};
}

// Puts the written temp in place of the existing register at path, the
// old one going to a claimed backup name when due.
void swap_in(const std::string& path, const std::string& temp, bool due, wait_budget& w,
             replace_result& r, file_stamp& now)
{
    std::string kept;
    file_stamp mine;
    if (!stamp_at(temp, mine)) {
        erase(temp);
        return;
    }
    if (!(due ? claim_backup(path, kept) : claim_fresh(path, kept))) {
        erase(temp);
        r.status = due ? replace_status::no_backup : replace_status::failed;
        r.cause = cause_of(GetLastError(), file_cause::folder_denied);
        r.backup = due ? kept : std::string();
        return;
    }
    bool claimed = true;
    if (!replace_waiting(path, temp, kept, w, r, claimed)) {
        erase(temp);
        if (claimed)
            erase(kept); // both names untouched: kept is the empty claim
        return;
    }
    take_as_own(path, mine, now);
    r.status = due ? replace_status::backed_up : replace_status::ok;
    if (due)
        r.backup = kept;
    else
        erase(kept);
}

// A request to end that came while the new file temp was written still
// finds the old one in place: it is honoured with nothing changed.
bool stopped(const std::string& temp, replace_result& r)
{
    if (!save_give_up || !save_give_up())
        return false;
    erase(temp);
    r.status = replace_status::stopped;
    return true;
}

// The first save of a register: put in place only if there still is none;
// true to try again when one came meanwhile.
bool create_first(const std::string& path, const std::function<bool(std::FILE*)>& write,
                  bool bytes, replace_result& r, file_stamp& now)
{
    r.status = replace_status::failed;
    std::string temp;
    if (!write_temp(path, write, bytes, temp)) {
        r.cause = cause_of(GetLastError(), file_cause::folder_denied);
        return false;
    }
    if (stopped(temp, r))
        return false;
    file_stamp mine;
    if (stamp_at(temp, mine) && !fault(save_step::rename) && move_file(temp, path, MOVEFILE_WRITE_THROUGH)) {
        take_as_own(path, mine, now);
        r.status = replace_status::ok;
        return false;
    }
    DWORD e = GetLastError();
    bool came = e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS;
    r.cause = cause_of(e, file_cause::folder_denied);
    erase(temp);
    return came;
}

// Whether the last part of path is longer than a folder takes (255 UTF-16
// units), which the system reports under several codes.
bool name_too_long(const std::string& path)
{
    return wide(path.substr(name_start(path))).size() > name_cap;
}

// One attempt at a replace, all of it inside the turn; true to try again
// from the start.
bool replace_at(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                wait_budget& w, replace_result& r, file_stamp& now)
{
    std::string path = plan.path;
    r.status = replace_status::failed;
    if (name_too_long(path)) {
        r.cause = file_cause::too_long;
        return false;
    }
    DWORD attrs = attributes(path);
    if (attrs == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND) {
        r.cause = cause_of(GetLastError(), file_cause::folder_denied);
        return false;
    }
    // Refused as an overwrite in place would be: a folder, or read-only.
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        r.cause = attrs & FILE_ATTRIBUTE_READONLY ? file_cause::file_denied : file_cause::unknown;
        return false;
    }
    turn t;
    switch (take_turn(path, t, w, r.status)) {
    case turn_status::moved: return true;
    case turn_status::refused: return false;
    case turn_status::mine: break;
    }
    if (plan.fresh && !t.missing) {
        r.status = replace_status::appeared;
        return false;
    }
    if (t.missing)
        return create_first(path, write, plan.bytes, r, now);
    bool due = plan.guard && !(plan.known && *plan.known == t.file);
    std::string temp;
    if (!write_temp(path, write, plan.bytes, temp)) {
        r.cause = cause_of(GetLastError(), file_cause::folder_denied);
        return false;
    }
    if (!stopped(temp, r))
        swap_in(path, temp, due, w, r, now);
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
        if (!replace_at(plan, write, w, r, now))
            return r;
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
