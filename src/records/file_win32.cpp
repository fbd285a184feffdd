#include "records/file_win32.h"
#include "records/codepage_win32.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

HANDLE create(const std::string& name, DWORD access, DWORD share, DWORD how, DWORD flags)
{
    return CreateFileW(wide(name).c_str(), access, share, nullptr, how, flags, nullptr);
}

DWORD attributes(const std::string& name)
{
    return GetFileAttributesW(wide(name).c_str());
}

bool wait_again(DWORD e, wait_budget& w, replace_status& why)
{
    why = replace_status::failed;
    // The guidance for ReplaceFile counts 1175 and a file pending deletion
    // as passing; scanners and indexers cause them.
    if (e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION && e != ERROR_ACCESS_DENIED &&
        e != ERROR_UNABLE_TO_REMOVE_REPLACED && e != ERROR_UNABLE_TO_MOVE_REPLACEMENT)
        return false;
    if (wait_more(w))
        return true;
    if (w.why == replace_status::stopped || e != ERROR_ACCESS_DENIED)
        why = w.why;
    return false;
}

file_cause cause_of(DWORD e, file_cause denied)
{
    switch (e) {
    case ERROR_ACCESS_DENIED: return denied;
    case ERROR_WRITE_PROTECT: return file_cause::read_only;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return file_cause::no_room;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: return file_cause::too_long;
    default: return file_cause::unknown;
    }
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

bool stamp_at(const std::string& path, file_stamp& stamp, DWORD flags)
{
    HANDLE h = create(path, FILE_READ_ATTRIBUTES, share_all, OPEN_EXISTING, flags);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = stamp_of(h, stamp);
    CloseHandle(h);
    return ok;
}

std::FILE* stream_of(HANDLE h, int flags, const char* mode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, mode);
    if (!f && fd < 0)
        CloseHandle(h);
    else if (!f)
        _close(fd);
    return f;
}

HANDLE create_fresh(const std::string& path, const char* suffix, std::string& name)
{
    static unsigned serial;
    // Room for "." and "-", two numbers of up to ten digits, and the suffix.
    std::string base = room_for(path, 22 + std::strlen(suffix));
    for (int tries = 0; tries < 100; ++tries) {
        name = base + "." + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount() + serial++) + suffix;
        HANDLE h = create(name, GENERIC_WRITE, 0, CREATE_NEW);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

namespace {

// Whether name is one create_fresh made from base: base, a dot, two
// numbers joined by a dash, and suffix.
bool fresh_name(std::wstring_view name, std::wstring_view base, std::wstring_view end)
{
    if (name.size() < base.size() + 4 + end.size() || !name.starts_with(base) || name[base.size()] != L'.' ||
        !name.ends_with(end))
        return false;
    std::wstring_view mid = name.substr(base.size() + 1, name.size() - base.size() - 1 - end.size());
    std::size_t dash = mid.find(L'-');
    return dash != mid.npos && dash > 0 && dash + 1 < mid.size() &&
           mid.find_first_not_of(L"0123456789-") == mid.npos && mid.find(L'-', dash + 1) == mid.npos;
}

// Opens the register to read it, sharing everything so that a replace
// goes on around the reader. missing only when no save is under way.
open_status open_shared(const std::string& path, HANDLE& h, wait_budget& w)
{
    for (;;) {
        DWORD attrs = attributes(path);
        if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
            return open_status::failed;
        h = attrs == INVALID_FILE_ATTRIBUTES ? INVALID_HANDLE_VALUE
                                             : create(path, GENERIC_READ, share_all, OPEN_EXISTING);
        if (h != INVALID_HANDLE_VALUE)
            return open_status::ok;
        DWORD e = GetLastError();
        // A replace empties the name for a moment, inside its turn.
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) {
            if (!gone(path, w))
                continue;
            return open_status::missing;
        }
        replace_status why;
        if (!wait_again(e, w, why))
            return open_status::failed;
    }
}

} // namespace

std::string file_left_over(const std::string& path)
{
    // The names the replace uses beside the register: the old file moved
    // aside (.old) when no backup is due, the new one written (.tmp).
    std::string base = room_for(path, 26);
    std::string dir = base.substr(0, name_start(base));
    std::wstring last = wide(base.substr(dir.size()));
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((wide(base) + L".*").c_str(), &d);
    std::string found;
    FILETIME newest{};
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &d)) {
        bool ours = fresh_name(d.cFileName, last, L".old") || fresh_name(d.cFileName, last, L".tmp");
        if (ours && !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            CompareFileTime(&d.ftLastWriteTime, &newest) > 0) {
            newest = d.ftLastWriteTime;
            found = dir + narrow(d.cFileName);
        }
    }
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
    return found;
}

open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp)
{
    wait_budget w;
    HANDLE h;
    open_status st = open_shared(path, h, w);
    if (st != open_status::ok)
        return st;
    if (GetFileType(h) != FILE_TYPE_DISK || !stamp_of(h, stamp)) {
        CloseHandle(h);
        return open_status::failed;
    }
    // Bytes as they are: text mode would stop at the first Ctrl-Z byte.
    f = stream_of(h, _O_RDONLY | _O_BINARY, "rb");
    return f ? open_status::ok : open_status::failed;
}

bool file_scratch(std::string& name)
{
    wchar_t dir[MAX_PATH + 1], path[MAX_PATH + 1];
    DWORD got = GetTempPathW(MAX_PATH + 1, dir);
    if (got == 0 || got > MAX_PATH || GetTempFileNameW(dir, L"stu", 0, path) == 0)
        return false;
    name = narrow(path);
    if (name.empty())
        DeleteFileW(path);
    return !name.empty();
}

std::string home_folder()
{
    wchar_t dir[MAX_PATH + 1];
    DWORD got = GetEnvironmentVariableW(L"USERPROFILE", dir, MAX_PATH + 1);
    if (got == 0 || got > MAX_PATH)
        return {};
    return narrow(dir);
}

bool file_room(const std::string& name, std::uint64_t bytes)
{
    std::size_t cut = name_start(name);
    ULARGE_INTEGER avail;
    if (cut == 0 || !GetDiskFreeSpaceExW(wide(name.substr(0, cut)).c_str(), &avail, nullptr, nullptr))
        return true;
    return avail.QuadPart >= bytes;
}

std::FILE* file_open_bytes(const std::string& path)
{
    return _wfopen(wide(path).c_str(), L"rb");
}

void file_remove(const std::string& path)
{
    DeleteFileW(wide(path).c_str());
}

std::string shown_name(const std::string& path)
{
    return wide_gbk(wide(path), '?');
}

bool separator(char c)
{
    return c == '/' || c == '\\';
}
