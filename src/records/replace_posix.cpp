// Writing a file whole or not at all: a fresh file beside it, renamed over
// it once it is safely written, a backup where one is due, and the turn
// between programs saving the same register.
#include "records/file.h"
#include "records/file_posix.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// Writes a new file under a fresh name made from base; false on failure,
// with the fresh file removed. On success temp names it.
bool write_temp(const std::string& base, const char* like_path, const struct stat* like,
                const std::function<bool(std::FILE*)>& write, std::string& temp, file_stamp& now,
                bool owner_rw = false)
{
    // A register whose name is near the longest a folder takes still gets
    // a fresh name beside it.
    temp = room_for(base, 7) + ".XXXXXX";
    int fd = ::mkstemp(temp.data()); // O_EXCL and mode 0600: ours alone
    if (fd < 0)
        return false;
    std::FILE* f = fault(save_step::create) ? nullptr : ::fdopen(fd, "w");
    if (!f) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    errno = 0; // what the write fails for, if the system says
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    if (ok)
        copy_access(fd, like_path, like, owner_rw);
    ok = ok && !fault(save_step::sync) && (!save_sync || ::fsync(fd) == 0);
    struct stat st;
    ok = ok && ::fstat(fd, &st) == 0;
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (ok && closed) {
        now = stamp_of(st);
        return true;
    }
    int e = errno;
    ::unlink(temp.c_str());
    errno = e;
    return false;
}

// A copy of the old file (open at fd) under a fresh name beside stem, with
// its access; it takes a backup's name only when complete.
bool copy_old(int fd, const std::string& target, const struct stat& old, const std::string& stem,
              std::string& temp)
{
    file_stamp ignored;
    return write_temp(stem, target.c_str(), &old, [fd](std::FILE* f) {
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

// Gives temp the name to, only if nothing holds that name: 0, or the
// reason it could not (EEXIST when the name is taken).
int put_new(const std::string& temp, const std::string& to)
{
    if (::link(temp.c_str(), to.c_str()) == 0) {
        ::unlink(temp.c_str());
        return 0;
    }
    int e = errno;
    if (e != EPERM && e != ENOTSUP && e != EOPNOTSUPP)
        return e;
    // A file system without hard links may still rename without replacing.
    return ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

// Names temp as the first free name of the series stem + ext. A taken name
// moves on to the next one; with any_taken clear, only an earlier version
// (a regular file) does, and anything else there stops the search. name is
// the name given, or the one that stopped it.
bool claim(const std::string& temp, const std::string& stem, const char* ext, bool any_taken,
           std::string& name)
{
    for (int k = 1; k <= series_cap; ++k) {
        name = numbered(stem, ext, k);
        int e = put_new(temp, name);
        if (e == 0)
            return true;
        struct stat st;
        if (e != EEXIST || ::lstat(name.c_str(), &st) != 0 || (!any_taken && !S_ISREG(st.st_mode)))
            return false;
    }
    return false;
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
    int e = put_new(temp, target);
    exists = e == EEXIST;
    return e == 0;
}

// The old file, open, so that two programs saving at once take turns, and
// each sees the file the other left.
struct locked {
    int fd = -1;
    ~locked()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// again: the file changed hands meanwhile, so the attempt starts over.
struct attempt {
    replace_result result;
    bool again = false;
};

attempt ended(replace_status st, std::string name = {})
{
    return {{st, std::move(name)}, false};
}

// What errno says of a step that failed, when the step is refused for want
// of permission: denied says whose (the file's or its folder's).
file_cause cause_of(int e, file_cause denied)
{
    switch (e) {
    case EACCES:
    case EPERM: return denied;
    case EROFS: return file_cause::read_only;
    case ENOSPC:
    case EDQUOT: return file_cause::no_room;
    case ENAMETOOLONG: return file_cause::too_long;
    default: return file_cause::unknown;
    }
}

attempt refused(replace_status st, file_cause denied, std::string name = {})
{
    attempt a = ended(st, std::move(name));
    a.result.cause = cause_of(errno, denied);
    return a;
}

// The backup series' stem: the register's name, cut short where it is near
// the longest a folder takes, so a backup is never refused for want of a name.
std::string backup_stem(const char* path)
{
    return room_for(path, std::strlen(".9999.bak"));
}

// Keeps the old file (open at fd) under the backup series' first free name;
// nothing is left behind when it cannot.
attempt keep_old(int fd, const std::string& target, const struct stat& old, const char* path,
                 std::string& bak)
{
    std::string stem = backup_stem(path), bak_temp;
    // One it may not read cannot be kept.
    if (fd < 0 || !copy_old(fd, target, old, stem, bak_temp))
        return refused(replace_status::no_backup, file_cause::folder_denied);
    bak = numbered(stem, ".bak", 1);
    if (fault(save_step::backup) || !claim(bak_temp, stem, ".bak", false, bak)) {
        attempt a = refused(replace_status::no_backup, file_cause::folder_denied, bak);
        ::unlink(bak_temp.c_str());
        return a;
    }
    return ended(replace_status::backed_up, bak);
}

attempt replace_at(const replace_plan& plan, const std::string& target,
                   const std::function<bool(std::FILE*)>& write, file_stamp& now, long until)
{
    struct stat old;
    bool exists = ::lstat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return refused(replace_status::failed, file_cause::folder_denied);
    if (exists && plan.fresh)
        return ended(replace_status::appeared);
    // Refused as an overwrite in place would be: not a plain file, or not
    // writable by this user (root may write anything, as with open).
    if (exists && !S_ISREG(old.st_mode))
        return ended(replace_status::failed);
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return refused(replace_status::failed, file_cause::file_denied);
    locked lock;
    if (exists && (lock.fd = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) >= 0) {
        replace_status turn = take_turn(lock.fd, until);
        if (turn != replace_status::ok)
            return ended(turn);
        struct stat now_there;
        if (::fstat(lock.fd, &old) != 0 || ::lstat(target.c_str(), &now_there) != 0 ||
            now_there.st_ino != old.st_ino || now_there.st_dev != old.st_dev)
            return {{}, true}; // replaced while this one waited its turn
    }
    bool backup = exists && plan.guard && !(plan.known && *plan.known == stamp_of(old));
    std::string temp, bak;
    if (!write_temp(target, target.c_str(), exists ? &old : nullptr, write, temp, now))
        return refused(replace_status::failed, file_cause::folder_denied);
    attempt done = backup ? keep_old(lock.fd, target, old, plan.path, bak) : ended(replace_status::ok);
    if (done.result.status == replace_status::no_backup) {
        ::unlink(temp.c_str());
        return done;
    }
    // A request to end that came while the new file was written still finds
    // the old one in place: it is honoured with nothing changed.
    bool stop = save_give_up && save_give_up();
    bool was = exists;
    if (stop || !publish(temp, target, exists)) {
        attempt a = stop ? ended(replace_status::stopped)
                         : refused(replace_status::failed, errno == EPERM ? file_cause::file_denied
                                                                         : file_cause::folder_denied);
        ::unlink(temp.c_str());
        if (backup)
            ::unlink(bak.c_str()); // ours, and the register is still in place
        if (!stop && exists != was)
            return plan.fresh ? ended(replace_status::appeared) : attempt{{}, true};
        return a;
    }
    if (save_sync) {
        sync_folder(folder_of(target));
        if (backup)
            sync_folder(folder_of(bak));
    }
    return done;
}

} // namespace

replace_result file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now)
{
    // One bound for the whole save, however often the file changes hands
    // while it waits: other programs saving one after another are busy too.
    long until = now_ms() + turn_wait;
    for (;;) {
        std::string target = resolve(plan.path);
        if (target.empty()) {
            replace_result r;
            r.cause = errno == ENAMETOOLONG ? file_cause::too_long : file_cause::unknown;
            return r;
        }
        attempt a = replace_at(plan, target, write, now, until);
        if (!a.again)
            return a.result;
        if (now_ms() >= until)
            return {replace_status::busy, {}};
    }
}

bool file_keep(const std::string& stem, const char* ext, const char* like,
               const std::function<bool(std::FILE*)>& write, std::string& name)
{
    // The register's access is copied only through links a save would
    // follow: a link planted by another user must not choose who may read
    // the operator's work.
    std::string like_path = like ? resolve(like) : std::string();
    struct stat like_st;
    bool have_like = !like_path.empty() && ::stat(like_path.c_str(), &like_st) == 0 &&
                     S_ISREG(like_st.st_mode);
    std::string temp;
    file_stamp ignored;
    if (!write_temp(stem, like_path.c_str(), have_like ? &like_st : nullptr, write, temp, ignored, true))
        return false;
    if (fault(save_step::rename) || !claim(temp, stem, ext, true, name)) {
        ::unlink(temp.c_str());
        return false;
    }
    if (save_sync)
        sync_folder(folder_of(name));
    return true;
}

std::string file_left_over(const std::string&)
{
    return {};
}
