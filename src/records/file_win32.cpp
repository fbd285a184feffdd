#include "records/file.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

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
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = stamp_of(h, stamp);
    CloseHandle(h);
    return ok;
}

// A name beside path that nothing holds yet, created empty by this call, so
// no other file or link is ever opened under it.
HANDLE create_fresh(const std::string& path, const char* suffix, std::string& name)
{
    static unsigned serial;
    for (int tries = 0; tries < 100; ++tries) {
        name = path + "." + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount() + serial++) + suffix;
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return h;
    }
    return INVALID_HANDLE_VALUE;
}

// Writes the new file under a fresh name beside path; false on failure,
// with the fresh file removed.
bool write_temp(const std::string& path, const std::function<bool(std::FILE*)>& write,
                std::string& temp)
{
    if (fault(save_step::create))
        return false;
    HANDLE h = create_fresh(path, ".tmp", temp);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // Text mode, so every line ends in CR LF as Windows programs expect.
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_TEXT);
    std::FILE* f = fd < 0 ? nullptr : _fdopen(fd, "w");
    if (!f) {
        if (fd < 0)
            CloseHandle(h);
        else
            _close(fd);
        DeleteFileA(temp.c_str());
        return false;
    }
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    ok = ok && !fault(save_step::sync) && (!save_sync || _commit(fd) == 0);
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (ok && closed)
        return true;
    DeleteFileA(temp.c_str());
    return false;
}

// Puts temp in place of the existing path with the system's own call, which
// keeps the old file's attributes and access rights. The old file goes to
// a fresh name first (a replace without one fails under wine), and from
// there to path.bak or away.
bool swap_in(const std::string& path, const std::string& temp, bool keep)
{
    std::string old;
    HANDLE h = create_fresh(path, ".old", old);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    if (!ReplaceFileA(path.c_str(), temp.c_str(), old.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr)) {
        // The old file was moved aside but the new one not moved in: put it back.
        if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
            MoveFileExA(old.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH);
        DeleteFileA(old.c_str());
        return false;
    }
    // The new file is in place now, so the save has happened whatever
    // follows; an old file that cannot become the backup stays where it is.
    if (keep)
        MoveFileExA(old.c_str(), (path + ".bak").c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    else
        DeleteFileA(old.c_str());
    return true;
}

} // namespace

open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp)
{
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        DWORD e = GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? open_status::missing
                                                                      : open_status::failed;
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        return open_status::failed;
    f = std::fopen(path, "r");
    if (!f)
        return open_status::failed;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (GetFileType(h) != FILE_TYPE_DISK || !stamp_of(h, stamp)) {
        std::fclose(f);
        return open_status::failed;
    }
    return open_status::ok;
}

replace_status file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now)
{
    std::string path = plan.path;
    DWORD attrs = GetFileAttributesA(path.c_str());
    bool exists = attrs != INVALID_FILE_ATTRIBUTES;
    // Refused as an overwrite in place would be: a folder, or read-only.
    if (exists && (attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return replace_status::failed;
    file_stamp old;
    bool backup = exists && plan.guard &&
                  !(plan.known && stamp_at(path, old) && *plan.known == old);
    std::string temp;
    if (!write_temp(path, write, temp))
        return replace_status::failed;
    bool placed = !fault(save_step::rename) &&
                  (exists ? swap_in(path, temp, backup)
                          : MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != 0);
    if (!placed) {
        DeleteFileA(temp.c_str());
        return replace_status::failed;
    }
    stamp_at(path, now);
    return backup ? replace_status::backed_up : replace_status::ok;
}
