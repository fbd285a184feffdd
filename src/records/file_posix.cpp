#include "records/file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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

// Whether a link may be followed: in a folder anyone may write to but only
// owners may delete from (/tmp), only a link of this user or of the
// folder's owner, so nobody can point another user's save at a file of
// that user's choosing.
bool trusted(const std::string& link)
{
    struct stat l, d;
    if (::lstat(link.c_str(), &l) != 0 || ::stat(folder_of(link).c_str(), &d) != 0)
        return false;
    bool shared = (d.st_mode & S_ISVTX) && (d.st_mode & S_IWOTH);
    return !shared || l.st_uid == ::geteuid() || l.st_uid == d.st_uid;
}

// The name a chain of symbolic links starting at path ends at; the file
// there need not exist. Empty when the chain loops, cannot be read, or
// holds a link that may not be followed.
std::string resolve(const std::string& path)
{
    std::string p = path;
    // As many links as the system follows when it opens a path, so that a
    // register that loads can be saved; a longer chain is refused like a loop.
    for (int links = 0; links <= 40; ++links) {
        char buf[PATH_MAX];
        ssize_t len = ::readlink(p.c_str(), buf, sizeof buf);
        if (len < 0)
            return errno == EINVAL || errno == ENOENT ? p : std::string();
        if (!trusted(p))
            return {};
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

const char* const acl_name = "system.posix_acl_access";

// Gives the new file the owner, group, permissions and access list of the
// old one (like, at like_path), as far as the process may. A group it
// cannot give loses its permissions, and an access list inherited from the
// folder is dropped, so the register is never readable by more people than
// before.
void copy_access(int fd, const char* like_path, const struct stat* like)
{
    if (!like) {
        ::fchmod(fd, fresh_mode());
        return;
    }
    mode_t mode = like->st_mode & 07777;
    struct stat own;
    if (::fstat(fd, &own) == 0 && (own.st_uid != like->st_uid || own.st_gid != like->st_gid) &&
        ::fchown(fd, like->st_uid, like->st_gid) != 0 && ::fchown(fd, -1, like->st_gid) != 0)
        mode &= ~static_cast<mode_t>(0070);
    ::fchmod(fd, mode);
    char acl[4096];
    ssize_t len = ::getxattr(like_path, acl_name, acl, sizeof acl);
    if (len <= 0 || ::fsetxattr(fd, acl_name, acl, static_cast<std::size_t>(len), 0) != 0)
        ::fremovexattr(fd, acl_name);
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

// Writes a new file under a fresh name made from base; false on failure,
// with the fresh file removed. On success temp names it.
bool write_temp(const std::string& base, const char* like_path, const struct stat* like,
                const std::function<bool(std::FILE*)>& write, std::string& temp, file_stamp& now)
{
    temp = base + ".XXXXXX";
    int fd = ::mkstemp(temp.data()); // O_EXCL and mode 0600: ours alone
    if (fd < 0)
        return false;
    std::FILE* f = fault(save_step::create) ? nullptr : ::fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    if (ok)
        copy_access(fd, like_path, like);
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

// A copy of the old file (open at fd) under a fresh name beside bak, with
// its access; it becomes bak only once the new file is in place, so a
// failed save leaves an older backup alone.
bool copy_old(int fd, const std::string& target, const struct stat& old, const std::string& bak,
              std::string& temp)
{
    file_stamp ignored;
    return write_temp(bak, target.c_str(), &old, [fd](std::FILE* f) {
        char buf[1 << 14];
        off_t at = 0;
        ssize_t got;
        while ((got = ::pread(fd, buf, sizeof buf, at)) > 0) {
            if (std::fwrite(buf, 1, static_cast<std::size_t>(got), f) != static_cast<std::size_t>(got))
                return false;
            at += got;
        }
        return got == 0;
    }, temp, ignored);
}

// Puts temp at target: over the old file (or a link replaced as a name),
// or, where there was none, only if there still is none (false with exists
// set when one came meanwhile).
bool publish(const std::string& temp, const std::string& target, bool& exists, bool over_link)
{
    if (fault(save_step::rename))
        return false;
    if (exists || over_link)
        return ::rename(temp.c_str(), target.c_str()) == 0;
    if (::link(temp.c_str(), target.c_str()) == 0) {
        ::unlink(temp.c_str());
        return true;
    }
    if (errno == EEXIST) {
        exists = true;
        return false;
    }
    // A file system without hard links: as close as it gets.
    return ::rename(temp.c_str(), target.c_str()) == 0;
}

// The old file, open and locked, so that two programs saving at once take
// turns, and each sees the file the other left.
struct locked {
    int fd = -1;
    ~locked()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

enum class attempt { done, backed_up, failed, again };

attempt replace_at(const replace_plan& plan, const std::string& target,
                   const std::function<bool(std::FILE*)>& write, file_stamp& now)
{
    struct stat old;
    bool exists = ::lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return attempt::failed;
    bool name_only = false;
    // Refused as an overwrite in place would be: not a plain file, or not
    // writable by this user (root may write anything, as with open).
    if (exists && (!S_ISREG(old.st_mode) || ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0))
        return attempt::failed;
    locked lock;
    if (exists && (lock.fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) >= 0) {
        struct stat now_there;
        if (::flock(lock.fd, LOCK_EX) != 0 || ::fstat(lock.fd, &old) != 0 ||
            ::lstat(target.c_str(), &now_there) != 0 || now_there.st_ino != old.st_ino ||
            now_there.st_dev != old.st_dev)
            return attempt::again; // replaced while this one waited its turn
    }
    const char* like_path = target.c_str();
    const struct stat* like = exists ? &old : nullptr;
    bool backup = exists && plan.guard && !(plan.known && *plan.known == stamp_of(old));
    std::string temp, bak_temp, bak = std::string(plan.path) + ".bak";
    if (!write_temp(target, like_path, like, write, temp, now))
        return attempt::failed;
    if (backup && (lock.fd < 0 || !copy_old(lock.fd, target, old, bak, bak_temp))) {
        ::unlink(temp.c_str());
        return attempt::failed;
    }
    bool was = exists;
    if (!publish(temp, target, exists, name_only)) {
        ::unlink(temp.c_str());
        if (backup)
            ::unlink(bak_temp.c_str());
        return exists != was ? attempt::again : attempt::failed;
    }
    if (backup)
        ::rename(bak_temp.c_str(), bak.c_str());
    if (save_sync) {
        sync_folder(folder_of(target));
        if (backup)
            sync_folder(folder_of(bak));
    }
    return backup ? attempt::backed_up : attempt::done;
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

replace_result file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now)
{
    replace_result r;
    for (int tries = 0; tries < 10; ++tries) {
        std::string target = resolve(plan.path);
        if (target.empty())
            return r;
        switch (replace_at(plan, target, write, now)) {
        case attempt::done: r.status = replace_status::ok; return r;
        case attempt::backed_up:
            r.status = replace_status::backed_up;
            r.backup = std::string(plan.path) + ".bak";
            return r;
        case attempt::failed: return r;
        case attempt::again: break;
        }
    }
    return r;
}

bool file_keep(const std::string& stem, const char* ext, const char* like,
               const std::function<bool(std::FILE*)>& write, std::string& name)
{
    struct stat like_st;
    bool have = like && ::stat(like, &like_st) == 0 && S_ISREG(like_st.st_mode);
    std::string temp;
    file_stamp now;
    if (!write_temp(stem, like, have ? &like_st : nullptr, write, temp, now))
        return false;
    for (int k = 1; k <= series_cap; ++k) {
        name = numbered(stem, ext, k);
        if (fault(save_step::rename))
            break;
        if (::link(temp.c_str(), name.c_str()) == 0) {
            ::unlink(temp.c_str());
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    ::unlink(temp.c_str());
    return false;
}
