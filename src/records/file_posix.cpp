#include "records/file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

file_stamp stamp_of(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string folder_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The name a chain of symbolic links starting at path ends at; the file
// there need not exist. Empty when the chain loops or cannot be read.
std::string resolve(const std::string& path)
{
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        ssize_t len = ::readlink(p.c_str(), buf, sizeof buf);
        if (len < 0)
            return errno == EINVAL || errno == ENOENT ? p : std::string();
        std::string to(buf, static_cast<std::size_t>(len));
        // A relative link is relative to the folder that holds it.
        if (to[0] != '/' && p.find('/') != std::string::npos)
            to = folder_of(p) + "/" + to;
        p = to;
    }
    return {};
}

// The permissions a new file gets where there is no old file to copy.
mode_t fresh_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Gives the new file the owner, group and permissions of the old one, as
// far as the process may. A group it cannot give loses its permissions, so
// the register is never readable by more people than before.
void copy_access(int fd, const struct stat* like)
{
    if (!like) {
        ::fchmod(fd, fresh_mode());
        return;
    }
    mode_t mode = like->st_mode & 0777;
    struct stat own;
    if (::fstat(fd, &own) == 0 && (own.st_uid != like->st_uid || own.st_gid != like->st_gid) &&
        ::fchown(fd, like->st_uid, like->st_gid) != 0 && ::fchown(fd, -1, like->st_gid) != 0)
        mode &= ~static_cast<mode_t>(0070);
    ::fchmod(fd, mode);
}

// Syncs the folder, so the rename itself survives a power loss. Some file
// systems cannot sync a folder; the file is in place by then either way.
void sync_folder(const std::string& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes the new file under a fresh name beside target; false on failure,
// with the fresh file removed. On success temp names it.
bool write_temp(const std::string& target, const struct stat* like,
                const std::function<bool(std::FILE*)>& write, std::string& temp, file_stamp& now)
{
    temp = target + ".XXXXXX";
    if (fault(save_step::create))
        return false;
    int fd = ::mkstemp(temp.data()); // O_EXCL and mode 0600: ours alone
    if (fd < 0)
        return false;
    std::FILE* f = ::fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    if (ok)
        copy_access(fd, like);
    ok = ok && !fault(save_step::sync) && (!save_sync || ::fsync(fd) == 0);
    struct stat st;
    ok = ok && ::fstat(fd, &st) == 0;
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (ok && closed) {
        now = stamp_of(st);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

// Keeps the file at target as target.bak, replacing an older backup in one
// step, with the same permissions.
bool back_up(const std::string& target)
{
    std::FILE* old;
    file_stamp seen;
    if (file_open(target.c_str(), old, seen) != open_status::ok)
        return false;
    replace_plan copy{};
    std::string bak = target + ".bak";
    copy.path = bak.c_str();
    copy.follow = false;
    copy.like = target.c_str();
    file_stamp ignored;
    replace_status st = file_replace(copy, [old](std::FILE* f) {
        char buf[1 << 14];
        std::size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, old)) > 0)
            if (std::fwrite(buf, 1, got, f) != got)
                return false;
        return !std::ferror(old);
    }, ignored);
    std::fclose(old);
    return st == replace_status::ok;
}

} // namespace

open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? open_status::missing : open_status::failed;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        !(f = ::fdopen(fd, "r"))) {
        ::close(fd);
        return open_status::failed;
    }
    stamp = stamp_of(st);
    return open_status::ok;
}

replace_status file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now)
{
    std::string target = plan.follow ? resolve(plan.path) : std::string(plan.path);
    if (target.empty())
        return replace_status::failed;
    struct stat old;
    bool exists = ::lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return replace_status::failed;
    // Refused as an overwrite in place would be: not a plain file, or not
    // writable by this user (root may write anything, as with open). A link
    // not to be followed is only a name, replaced like a missing file.
    bool name_only = exists && !plan.follow && S_ISLNK(old.st_mode);
    if (exists && !name_only &&
        (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
        return replace_status::failed;
    exists = exists && !name_only;
    struct stat like_st;
    const struct stat* like = exists ? &old : nullptr;
    if (plan.like)
        like = ::stat(plan.like, &like_st) == 0 ? &like_st : nullptr;
    bool backup = exists && plan.guard && !(plan.known && *plan.known == stamp_of(old));
    std::string temp;
    if (!write_temp(target, like, write, temp, now))
        return replace_status::failed;
    if ((backup && !back_up(target)) || fault(save_step::rename) ||
        ::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return replace_status::failed;
    }
    if (save_sync)
        sync_folder(folder_of(target));
    return backup ? replace_status::backed_up : replace_status::ok;
}
