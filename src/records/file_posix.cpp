// Where a file is, and what the file layer asks of the system beside the save.
#include "records/file_posix.h"
#include "records/encoding_posix.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

namespace {

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

} // namespace

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
        if (!trusted(p)) {
            errno = EPERM;
            return {};
        }
        std::string to(buf, static_cast<std::size_t>(len));
        // A relative link is relative to the folder that holds it.
        if (to[0] != '/' && p.find('/') != std::string::npos)
            to = folder_of(p) + "/" + to;
        p = to;
    }
    errno = ELOOP;
    return {};
}

// Some file systems cannot sync a folder; the file is in place by then anyway.
void sys_sync_folder(const std::string& name)
{
    int fd = ::open(folder_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

long long sys_ms()
{
    timespec t;
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void sys_pause(long ms)
{
    // A signal cuts the sleep short, so a request to stop is seen at once.
    timespec t{ms / 1000, (ms % 1000) * 1000000};
    ::nanosleep(&t, nullptr);
}

std::string home_folder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

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

bool file_scratch(std::string& name)
{
    const char* dir = std::getenv("TMPDIR");
    std::string temp = std::string(dir && *dir ? dir : "/tmp") + "/student-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    ::close(fd);
    name = temp;
    return true;
}

bool file_room(const std::string& name, std::uint64_t bytes)
{
    struct statvfs fs;
    return ::statvfs(folder_of(name).c_str(), &fs) != 0 ||
           static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize >= bytes;
}

std::FILE* file_open_bytes(const std::string& path)
{
    return std::fopen(path.c_str(), "rb");
}

void file_remove(const std::string& path)
{
    // What the step that failed before it said stands.
    int e = errno;
    ::unlink(path.c_str());
    errno = e;
}

std::string shown_name(const std::string& path)
{
    // Names here are mostly UTF-8 and the messages GBK, which a terminal
    // converts whole, as GB18030: a name left as UTF-8 would be converted a
    // second time and read as nonsense. In GB18030, whose four-byte forms hold
    // what GBK cannot, it reads as given. One that is no UTF-8 stays as it is.
    if (gbk_locale())
        return path;
    recoder r(false);
    std::string out;
    bool whole = recode(r, path.data(), path.size(), out);
    return recode_end(r, out) && whole ? out : path;
}

bool separator(char c)
{
    return c == '/';
}
