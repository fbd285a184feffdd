// The save's POSIX steps: a fresh file beside the register, renamed over it
// once it is safely written, a copy of the old one kept where a backup is
// due, and flock for the turn between programs.
#include "records/file_posix.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

// The register as the attempt found it: open, for the turn, when it may be
// read, and its permissions and owner, for the new file and the backup.
struct posix_file {
    int fd = -1;
    struct stat st {};
    ~posix_file()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

posix_file& own(const sys_file& f)
{
    return *static_cast<posix_file*>(f.own.get());
}

const char* const acl_name = "system.posix_acl_access";

// The permissions a new file gets where there is no old file to copy.
mode_t fresh_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Waits, within w, for the turn to save, a lock on fd. A turn this process
// holds (file_hold) on the same file is its own already.
replace_status take_turn(int fd, wait_budget& w)
{
    struct stat st;
    if (held.locked && ::fstat(fd, &st) == 0 && same_file(stamp_of(st), held.stamp))
        return replace_status::ok;
    for (;;) {
        if (fault(save_step::lock))
            return replace_status::failed;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return replace_status::ok;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return replace_status::failed;
        if (!wait_more(w))
            return w.why;
    }
}

bool fail(replace_result& r, replace_status st, file_cause denied)
{
    r.status = st;
    r.cause = sys_cause(denied);
    return false;
}

// A copy of the old file (open at fd) under a fresh name beside stem, with
// its access; it takes a backup's name only when complete.
bool copy_old(const sys_file& old, const std::string& stem, std::string& temp)
{
    int fd = own(old).fd;
    file_stamp ignored;
    return write_new(stem, old, [fd](std::FILE* f) {
        char buf[1 << 14];
        off_t at = 0;
        ssize_t got;
        while ((got = ::pread(fd, buf, sizeof buf, at)) > 0) {
            if (std::fwrite(buf, 1, static_cast<std::size_t>(got), f) != static_cast<std::size_t>(got))
                return false;
            at += got;
        }
        return got == 0;
    }, false, false, temp, ignored);
}

// Puts temp at target: over the old file (or a link replaced as a name),
// or, where there was none, only if there still is none (false with exists
// set when one came meanwhile).
bool publish(const std::string& temp, const std::string& target, bool& exists)
{
    if (fault(save_step::rename))
        return false;
    if (exists)
        return ::rename(temp.c_str(), target.c_str()) == 0;
    bool put = sys_put_new(temp, target);
    exists = !put && errno == EEXIST;
    return put;
}

} // namespace

file_cause sys_cause(file_cause denied)
{
    switch (errno) {
    case EACCES:
    case EPERM: return denied;
    case EROFS: return file_cause::read_only;
    case ENOSPC:
    case EDQUOT: return file_cause::no_room;
    case ENAMETOOLONG: return file_cause::too_long;
    default: return file_cause::unknown;
    }
}

bool sys_find(const char* path, sys_file& f)
{
    auto p = std::make_shared<posix_file>();
    f.own = p;
    f.target = resolve(path);
    f.exists = !f.target.empty() && ::lstat(f.target.c_str(), &p->st) == 0;
    return f.exists || (!f.target.empty() && errno == ENOENT);
}

bool sys_look(const char* path, sys_file& f, replace_result& r)
{
    if (!sys_find(path, f) && !f.target.empty())
        return fail(r, replace_status::failed, file_cause::folder_denied);
    if (f.target.empty()) {
        r.cause = errno == ENAMETOOLONG ? file_cause::too_long : file_cause::unknown;
        return false;
    }
    if (!f.exists)
        return true;
    posix_file* p = &own(f);
    // Refused as an overwrite in place would be: not a plain file, or not
    // writable by this user (root may write anything, as with open).
    if (!S_ISREG(p->st.st_mode))
        return false;
    if (::faccessat(AT_FDCWD, f.target.c_str(), W_OK, AT_EACCESS) != 0)
        return fail(r, replace_status::failed, file_cause::file_denied);
    f.stamp = stamp_of(p->st);
    return true;
}

turn_status sys_turn(sys_file& f, wait_budget& w, replace_status& why)
{
    posix_file& p = own(f);
    // One it may not read is saved without the turn, as it always was.
    if (!f.exists || (p.fd = ::open(f.target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) < 0)
        return turn_status::mine;
    replace_status st = take_turn(p.fd, w);
    if (st != replace_status::ok) {
        why = st;
        return turn_status::refused;
    }
    struct stat there;
    if (::fstat(p.fd, &p.st) != 0 || ::lstat(f.target.c_str(), &there) != 0 ||
        !same_file(stamp_of(there), stamp_of(p.st)))
        return turn_status::moved; // replaced while this one waited its turn
    f.stamp = stamp_of(p.st);
    f.locked = true;
    return turn_status::mine;
}

void sys_like(const char* like, sys_file& f)
{
    // The register's access is copied only through links a save would
    // follow: a link planted by another user must not choose who may read
    // the operator's work.
    auto p = std::make_shared<posix_file>();
    f.own = p;
    f.target = like ? resolve(like) : std::string();
    f.exists = !f.target.empty() && ::stat(f.target.c_str(), &p->st) == 0 && S_ISREG(p->st.st_mode);
}

std::FILE* sys_new_file(const std::string& base, bool, std::string& temp)
{
    // A register whose name is near the longest a folder takes still gets
    // a fresh name beside it.
    temp = room_for(base, 7) + ".XXXXXX";
    int fd = ::mkstemp(temp.data()); // O_EXCL and mode 0600: ours alone
    if (fd < 0)
        return nullptr;
    std::FILE* f = fault(save_step::create) ? nullptr : ::fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        ::unlink(temp.c_str());
    }
    return f;
}

// The owner, group, permissions and access list of like, as far as the
// process may. A group it cannot give loses its permissions, and an access
// list inherited from the folder is dropped, so the register is never
// readable by more people than before. owner_rw is for a copy made for the
// operator to open, whatever the register's own mode.
void sys_access(std::FILE* f, const sys_file& like, bool owner_rw)
{
    int fd = ::fileno(f);
    mode_t add = owner_rw ? 0600 : 0;
    if (!like.exists) {
        ::fchmod(fd, fresh_mode() | add);
        return;
    }
    const struct stat& old = own(like).st;
    mode_t mode = (old.st_mode & (owner_rw ? 0777 : 07777)) | add;
    // A copy for the operator stays the operator's own; only its group
    // follows the register.
    uid_t uid = owner_rw ? static_cast<uid_t>(-1) : old.st_uid;
    struct stat st;
    if (::fstat(fd, &st) == 0 && (st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
        ::fchown(fd, uid, old.st_gid) != 0 && ::fchown(fd, -1, old.st_gid) != 0)
        mode &= ~static_cast<mode_t>(0070);
    char acl[4096];
    ssize_t len = ::getxattr(like.target.c_str(), acl_name, acl, sizeof acl);
    if (len <= 0 || ::fsetxattr(fd, acl_name, acl, static_cast<std::size_t>(len), 0) != 0)
        ::fremovexattr(fd, acl_name);
    // After the access list, which would otherwise set the owner's bits.
    ::fchmod(fd, mode);
}

bool sys_sync(std::FILE* f)
{
    return ::fsync(::fileno(f)) == 0;
}

bool sys_stamp(std::FILE* f, file_stamp& stamp)
{
    struct stat st;
    if (::fstat(::fileno(f), &st) != 0)
        return false;
    stamp = stamp_of(st);
    return true;
}

bool sys_put_new(const std::string& temp, const std::string& to)
{
    if (::link(temp.c_str(), to.c_str()) == 0) {
        ::unlink(temp.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return false;
    // A file system without hard links may still rename without replacing.
    return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool sys_taken(const std::string& name, bool any)
{
    struct stat st;
    return errno == EEXIST && ::lstat(name.c_str(), &st) == 0 && (any || S_ISREG(st.st_mode));
}

bool sys_set_aside(sys_file& f, const char* path, bool due, std::string& kept, replace_result& r)
{
    if (!due)
        return true;
    std::string stem = backup_stem(path), temp;
    // One it may not read cannot be kept.
    if (own(f).fd < 0 || !copy_old(f, stem, temp))
        return fail(r, replace_status::no_backup, file_cause::folder_denied);
    kept = numbered(stem, ".bak", 1);
    auto take = [&temp](const std::string& name) { return sys_put_new(temp, name); };
    if (!fault(save_step::backup) && claim_series(stem, ".bak", false, take, kept))
        return true;
    r.backup = kept;
    file_remove(temp); // which leaves errno as it was
    return fail(r, replace_status::no_backup, file_cause::folder_denied);
}

bool sys_put(sys_file& f, const std::string& temp, const std::string& kept, bool due, wait_budget&,
             replace_result& r, const file_stamp& mine, file_stamp& now)
{
    bool exists = f.exists;
    if (!publish(temp, f.target, exists)) {
        r.cause = sys_cause(errno == EPERM ? file_cause::file_denied : file_cause::folder_denied);
        file_remove(temp);
        if (due)
            file_remove(kept); // ours, and the register is still in place
        return exists != f.exists;
    }
    if (save_sync) {
        sys_sync_folder(f.target);
        if (due)
            sys_sync_folder(kept);
    }
    now = mine;
    r.status = due ? replace_status::backed_up : replace_status::ok;
    r.backup = kept;
    return false;
}

std::string file_left_over(const std::string&)
{
    return {};
}
