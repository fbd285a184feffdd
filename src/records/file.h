// The file system, as far as the register needs it: opening a file to read
// it without ever blocking, and replacing a file whole. The save's steps
// are file.cpp's for both platforms; what differs between POSIX and
// Windows is in the source file the build picks for each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

// Names of files are the system's bytes on POSIX and UTF-8 on Windows,
// where every call underneath is the wide one: so a name reaches the file
// intact whatever the system's code page.

// A name as the program's GBK messages show it. On POSIX a name in UTF-8 comes
// in GB18030 (GBK, and four-byte forms for what GBK cannot hold), so a terminal
// shows it as given, unless the locale says names are GBK; any other is shown
// as it is. On Windows in GBK, with '?' for a character GBK cannot hold.
std::string shown_name(const std::string& path);

// Whether c ends a folder's name in a path.
bool separator(char c);

// Where the last part of path (the file's own name) starts.
std::size_t name_start(const std::string& path);

// One version of one file: which file it is, and its size and last change.
// Equal stamps mean nobody has written or replaced the file in between.
struct file_stamp {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint64_t size = 0;
    std::int64_t mtime = 0; // nanoseconds, or the platform's own unit
    bool operator==(const file_stamp&) const = default;
};

// Whether a and b are stamps of one file, whatever its versions.
inline bool same_file(const file_stamp& a, const file_stamp& b)
{
    return a.dev == b.dev && a.ino == b.ino;
}

enum class open_status { ok, missing, failed };

// Opens path for reading, its bytes as they are (a line may end in CR LF,
// and a Ctrl-Z byte is data). Only a regular file is opened; a folder, FIFO
// or device is failed at once, without blocking. missing is only for a name
// that does not exist, and not for one a save in progress empties for a
// moment. On ok, stamp is the file's.
open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp);

// The k-th name of a numbered series: stem + ext for k = 1, then
// stem + "." + k + ext ("student.txt" ".bak": student.txt.bak,
// student.txt.2.bak, ...). Older versions keep their names for good.
inline std::string numbered(const std::string& stem, const char* ext, int k)
{
    return k == 1 ? stem + ext : stem + "." + std::to_string(k) + ext;
}

// The most bytes the last part of a name may take (a folder takes 255 bytes on
// POSIX and 255 UTF-16 units on Windows, never more than the UTF-8 bytes).
constexpr std::size_t name_cap = 255;

// path with its last part cut short, at the start of a UTF-8 character,
// so that more bytes added to it still make a name a folder takes; path
// itself when it leaves that room already, or when no cut would.
std::string room_for(const std::string& path, std::size_t more);

// How far a series goes before the program gives up looking for a free name.
constexpr int series_cap = 9999;

// What file_replace is to do.
struct replace_plan {
    // The file to replace. A symbolic link (or a chain of them) there is
    // followed: the file it ends at is replaced, in that file's folder, and
    // the link is kept.
    const char* path;
    // Keep the old file first under the first free name of
    // numbered(path, ".bak", k), unless it is this version (nullptr:
    // always, when there is an old file).
    bool guard = false;
    const file_stamp* known = nullptr;
    // The bytes written go to the file as they are. Otherwise each line
    // ends as the platform's text files do (CR LF on Windows).
    bool bytes = false;
    // The file is made where there was none: when one is there by the time
    // the new one would be put in place, nothing is written (appeared).
    bool fresh = false;
};

// failed: not replaced (no permission, no space, not a regular file, ...).
// busy: another program held the file for the whole bounded wait.
// stopped: save_give_up asked to end the wait.
// no_backup: a backup was due and could not be made, so nothing was replaced.
// appeared: a fresh file was asked for and another program made one first.
enum class replace_status { ok, backed_up, failed, busy, stopped, no_backup, appeared };

// Why a replace failed, as far as the system said, in the operator's terms:
// the file may not be written, nor a new file made in its folder; the file
// system is read-only; the disk is full; a name is longer than a folder takes.
enum class file_cause { unknown, file_denied, folder_denied, read_only, no_room, too_long };

struct replace_result {
    replace_status status = replace_status::failed;
    // backed_up: the name the old file was kept under; no_backup: the name
    // that could not be had.
    std::string backup;
    file_cause cause = file_cause::unknown; // failed or no_backup
};

// Writes a new file with write and puts it in place of the file of the plan
// in one step, so the file is always either the old one or the whole new
// one. The new file is created under a fresh name of its own, exclusively,
// readable only by its owner until it is complete; it then gets the old
// file's permissions (and owner and group where the process may set them,
// never ending more readable than before) and reaches the disk before it
// replaces the old one. A file that the process may not write, or that is
// not a regular file, is not replaced. Programs saving at once take turns;
// a turn is waited for at most 5 seconds. A backup is claimed under a name
// nothing held (an earlier backup moves the series on; anything else there,
// such as a folder or a link, makes it no_backup) before the old file is
// replaced. On failure nothing but the files it created is touched, and
// they are removed. On success now is the new file's stamp.
replace_result file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now);

// Takes the turn between programs on the file at path and keeps it until
// file_release, so that a load and the save after it are one step for every
// other program saving the same file: a file_replace of path in between
// takes the turn as its own, and no other program's save or held turn of it
// begins until the release. Waits as a save does (busy after the bounded
// wait, stopped when save_give_up says so); failed when the file is there but
// cannot be held. A missing file holds nothing (ok). One turn at a time.
replace_status file_hold(const char* path);
void file_release();

// Writes a new file with write under the first name of
// numbered(stem, ext, 1), numbered(stem, ext, 2), ... that nothing holds,
// never replacing, following or waiting on anything. Its permissions are
// those of the file at like (or a fresh file's when there is none), never
// more open for group and others, always readable and writable by its
// owner. On success name is the name written.
bool file_keep(const std::string& stem, const char* ext, const char* like,
               const std::function<bool(std::FILE*)>& write, std::string& name);

// The operator's home folder, where work is kept when the register's own
// folder takes no new file; empty when the system does not say.
std::string home_folder();

// Creates an empty file of its own in the system's folder for temporary
// files, readable only by its owner, and gives its name.
bool file_scratch(std::string& name);

// Whether the disk holding the file name has room for bytes more; true
// when the system does not tell.
bool file_room(const std::string& name, std::uint64_t bytes);

// Opens a file to read it as it is, line ends and all; nullptr when it cannot.
std::FILE* file_open_bytes(const std::string& path);

// After a load found no file at path: the file a save cut short left
// holding a version of it (the old one moved aside, or the new one not yet
// moved in), the last written when there are several; empty when there is
// none. On POSIX a save moves its file in in one step and leaves none.
std::string file_left_over(const std::string& path);

// Removes a file, if it is there.
void file_remove(const std::string& path);

// Asked again and again while a save waits for another program's turn, and
// once more just before the new file is put in place; true ends the save at
// once (stopped), with nothing changed. Unset: the save runs its course.
extern bool (*save_give_up)();

// Test seam: each step of a replace, and the close after a load, asks this hook
// first, when it is set, and fails as if the system had refused it when the
// hook returns true. backup is claiming the backup's name; lock is taking the
// turn between programs; halfway is a replace that stops with the old file
// under the backup's name only (Windows); restore is moving it back from there.
enum class save_step { create, write, flush, sync, close, rename, backup, lock, halfway, restore };
extern bool (*save_fault)(save_step);

// True when the test seam breaks this step.
bool fault(save_step step);

// Benchmark seam: with this cleared, a replace skips the disk syncs, so what
// the rest of a save costs can be measured apart from the disk.
extern bool save_sync;
