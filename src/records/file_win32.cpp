// Windows file layer. Names come in UTF-8 and every call is the wide one,
// so a name reaches the file intact whatever the system's code page.
#include "records/file.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

std::wstring wide(const std::string& s)
{
    if (s.empty())
        return {};
    int len = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(len > 0 ? len : 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), len);
    return w;
}

HANDLE create(const std::string& name, DWORD access, DWORD share, DWORD how)
{
    return CreateFileW(wide(name).c_str(), access, share, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
}

DWORD attributes(const std::string& name)
{
    return GetFileAttributesW(wide(name).c_str());
}

void erase(const std::string& name)
{
    DeleteFileW(wide(name).c_str());
}

bool move_file(const std::string& from, const std::string& to, DWORD flags)
{
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), flags);
}

const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The turn between programs saving at once: one byte far past the end of
// any register, so a lock on it never stops anyone reading the register.
const DWORD turn_offset_high = 0x7fffffff;

// How long one save waits for others in all: for another copy's turn, and
// for a scanner, indexer or spreadsheet to let go of a file.
struct wait_budget {
    ULONGLONG end = GetTickCount64() + 5000;
    DWORD step = 1;
    replace_status why = replace_status::busy;
};

// Waits a little longer each time; false once the time is up or the
// program asks to stop, with why saying which.
bool wait_more(wait_budget& w)
{
    if (save_give_up && save_give_up()) {
        w.why = replace_status::stopped;
        return false;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= w.end)
        return false;
    Sleep(static_cast<DWORD>(w.end - now < w.step ? w.end - now : w.step));
    w.step = w.step < 64 ? w.step * 2 : 100;
    return true;
}

bool held_elsewhere(DWORD e)
{
    return e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION;
}

bool stamp_of(HANDLE h, file_stamp& stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return false;
    stamp.dev = info.dwVolumeSerialNumber;
    stamp.ino = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.mtime = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                            info.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool stamp_at(const std::string& path, file_stamp& stamp)
{
    HANDLE h = create(path, FILE_READ_ATTRIBUTES, share_all, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = stamp_of(h, stamp);
    CloseHandle(h);
    return ok;
}

bool same_file(const file_stamp& a, const file_stamp& b)
{
    return a.dev == b.dev && a.ino == b.ino;
}

// Whether the file at name is the very one stamped: the empty file this
// program created to claim the name, say.
bool is_file(const std::string& name, const file_stamp& stamp)
{
    file_stamp now;
    return stamp_at(name, now) && same_file(now, stamp);
}

bool plain_file_at(const std::string& name)
{
    DWORD a = attributes(name);
    return a != INVALID_FILE_ATTRIBUTES &&
           !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

// A name beside path that nothing holds yet, created empty by this call, so
// no other file or link is ever opened under it.
HANDLE create_fresh(const std::string& path, const char* suffix, std::string& name)
{
    static unsigned serial;
    for (int tries = 0; tries < 100; ++tries) {
        name = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount() + serial++) + suffix;
        HANDLE h = create(name, GENERIC_WRITE, 0, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the new file under a fresh name beside path; false on failure,
// with the fresh file removed.
bool write_temp(const std::string& path, const std::function<bool(std::FILE*)>& write,
                bool bytes, std::string& temp)
{
    if (fault(save_step::create))
        return false;
    HANDLE h = create_fresh(path, ".tmp", temp);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Text mode unless the bytes are to go as they are, so every line ends
    // in CR LF as Windows programs expect.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | (bytes ? _O_BINARY : _O_TEXT));
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (!f) {
        if (fd < 0)
            CloseHandle(h);
        else
            _close(fd);
        erase(temp);
        return false;
    }
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    ok = ok && !fault(save_step::sync) && (!save_sync || _commit(fd) == 0);
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (ok && closed)
        return true;
    erase(temp);
    return false;
}

// ---- the turn between programs ---------------------------------------

// The register, open only to hold the turn: it shares everything, so the
// replace itself, and every reader, goes on around it.
struct turn {
    HANDLE h = INVALID_HANDLE_VALUE;
    void release()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    ~turn() { release(); }
};

enum class turn_status { mine, moved, refused };

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

// ---- the replace -----------------------------------------------------

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

open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp)
{
    DWORD attrs = attributes(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? open_status::missing
                                                                      : open_status::failed;
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return open_status::failed;
    // Bytes as they are: text mode would stop at the first Ctrl-Z byte.
    f = _wfopen(wide(path).c_str(), L"rb");
    if (!f)
        return open_status::failed;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (GetFileType(h) != FILE_TYPE_DISK || !stamp_of(h, stamp)) {
        std::fclose(f);
        return open_status::failed;
    }
    return open_status::ok;
}

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

bool file_scratch(std::string& name)
{
    wchar_t dir[MAX_PATH + 1], path[MAX_PATH + 1];
    DWORD got = GetTempPathW(MAX_PATH + 1, dir);
    if (got == 0 || got > MAX_PATH || GetTempFileNameW(dir, L"stu", 0, path) == 0)
        return false;
    char utf8[4 * MAX_PATH];
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, utf8, sizeof utf8, nullptr, nullptr) == 0) {
        DeleteFileW(path);
        return false;
    }
    name = utf8;
    return true;
}

std::FILE* file_open_bytes(const std::string& path)
{
    return _wfopen(wide(path).c_str(), L"rb");
}

void file_remove(const std::string& path)
{
    erase(path);
}

std::string shown_name(const std::string& path)
{
    std::wstring w = wide(path);
    if (w.empty())
        return {};
    int len = WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, "?", nullptr);
    std::string s(static_cast<std::size_t>(len > 0 ? len : 0), '\0');
    WideCharToMultiByte(936, 0, w.data(), static_cast<int>(w.size()), s.data(), len, "?", nullptr);
    return s;
}

bool separator(char c)
{
    return c == '/' || c == '\\';
}
