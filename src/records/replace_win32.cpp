// The save's Windows steps: ReplaceFile swaps the written file in, the old
// one going to a claimed backup name or a fresh one removed afterwards,
// with waits for programs that hold a file for a moment.
#include "records/file.h"
#include "records/file_sys.h"
#include "records/file_win32.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <string>
#include <windows.h>

DWORD rename_fault_error = ERROR_WRITE_PROTECT;

namespace {

bool move_file(const std::string& from, const std::string& to, DWORD flags)
{
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), flags);
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
        if (!wait_again(err, w, r.status)) {
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

// The first save of a register: put in place only if there still is none;
// true to try again when one came meanwhile.
bool create_first(const std::string& path, const std::string& temp, replace_result& r,
                  const file_stamp& mine, file_stamp& now)
{
    if (!fault(save_step::rename) && move_file(temp, path, MOVEFILE_WRITE_THROUGH)) {
        take_as_own(path, mine, now);
        r.status = replace_status::ok;
        return false;
    }
    DWORD e = GetLastError();
    r.cause = cause_of(e, file_cause::folder_denied);
    file_remove(temp);
    return e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS;
}

// Whether the empty file h, claiming a name, was made; closed then.
bool made(HANDLE h)
{
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

// Claims name by creating it empty.
bool claim_empty(const std::string& name)
{
    return !fault(save_step::backup) && made(create(name, GENERIC_WRITE, 0, CREATE_NEW));
}

} // namespace

long long sys_ms()
{
    return static_cast<long long>(GetTickCount64());
}

void sys_pause(long ms)
{
    Sleep(static_cast<DWORD>(ms));
}

file_cause sys_cause(file_cause denied)
{
    return cause_of(GetLastError(), denied);
}

bool sys_find(const char* path, sys_file& f)
{
    f.target = path;
    f.own = std::make_shared<turn>();
    return true;
}

bool sys_look(const char* path, sys_file& f, replace_result& r)
{
    sys_find(path, f);
    // A last part longer than a folder takes (255 UTF-16 units), which the
    // system reports under several codes.
    if (wide(f.target.substr(name_start(f.target))).size() > name_cap) {
        r.cause = file_cause::too_long;
        return false;
    }
    DWORD attrs = attributes(f.target);
    if (attrs == INVALID_FILE_ATTRIBUTES && GetLastError() != ERROR_FILE_NOT_FOUND) {
        r.cause = cause_of(GetLastError(), file_cause::folder_denied);
        return false;
    }
    // Refused as an overwrite in place would be: a folder, or read-only.
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        r.cause = attrs & FILE_ATTRIBUTE_READONLY ? file_cause::file_denied : file_cause::unknown;
        return false;
    }
    return true;
}

turn_status sys_turn(sys_file& f, wait_budget& w, replace_status& why)
{
    turn& t = *static_cast<turn*>(f.own.get());
    turn_status st = take_turn(f.target, t, w, why);
    f.exists = f.locked = !t.missing;
    f.stamp = t.file;
    return st;
}

void sys_like(const char*, sys_file&)
{
    // The new file takes the folder's access, as the register did when it
    // was first saved there.
}

std::FILE* sys_new_file(const std::string& base, bool bytes, std::string& temp)
{
    if (fault(save_step::create))
        return nullptr;
    HANDLE h = create_fresh(base, ".tmp", temp);
    if (h == INVALID_HANDLE_VALUE)
        return nullptr;
    // Text mode unless the bytes are to go as they are, so every line ends
    // in CR LF as Windows programs expect.
    std::FILE* f = stream_of(h, _O_WRONLY | (bytes ? _O_BINARY : _O_TEXT), "w");
    if (!f)
        file_remove(temp);
    return f;
}

void sys_access(std::FILE*, const sys_file&, bool)
{
    // The replace keeps the old file's access list; a new file takes its
    // folder's.
}

bool sys_sync(std::FILE* f)
{
    return _commit(_fileno(f)) == 0;
}

bool sys_stamp(std::FILE* f, file_stamp& stamp)
{
    return stamp_of(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))), stamp);
}

bool sys_put_new(const std::string& temp, const std::string& to)
{
    return move_file(temp, to, MOVEFILE_WRITE_THROUGH);
}

bool sys_taken(const std::string& name, bool any)
{
    // Else only a file: not a folder, a link or a device.
    DWORD a = attributes(name);
    return a != INVALID_FILE_ATTRIBUTES &&
           (any || !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)));
}

void sys_sync_folder(const std::string&)
{
    // MOVEFILE_WRITE_THROUGH has done it.
}

bool sys_set_aside(sys_file&, const char* path, bool due, std::string& kept, replace_result& r)
{
    // Without a backup the old file still needs a name of its own to go
    // to: the replace needs one under wine, and it is removed afterwards.
    if (due ? claim_series(backup_stem(path), ".bak", false, claim_empty, kept)
            : made(create_fresh(path, ".old", kept)))
        return true;
    r.status = due ? replace_status::no_backup : replace_status::failed;
    r.cause = cause_of(GetLastError(), file_cause::folder_denied);
    r.backup = due ? kept : std::string();
    return false;
}

bool sys_put(sys_file& f, const std::string& temp, const std::string& kept, bool due, wait_budget& w,
             replace_result& r, const file_stamp& mine, file_stamp& now)
{
    if (!f.exists)
        return create_first(f.target, temp, r, mine, now);
    bool claimed = true;
    if (!replace_waiting(f.target, temp, kept, w, r, claimed)) {
        file_remove(temp);
        if (claimed)
            file_remove(kept); // both names untouched: kept is the empty claim
        return false;
    }
    take_as_own(f.target, mine, now);
    r.status = due ? replace_status::backed_up : replace_status::ok;
    if (due)
        r.backup = kept;
    else
        file_remove(kept);
    return false;
}
