// The file system, as far as the register needs it: opening a file to read
// it without ever blocking, and replacing a file whole. Everything here
// differs between POSIX and Windows; the build picks one source file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

// One version of one file: which file it is, and its size and last change.
// Equal stamps mean nobody has written or replaced the file in between.
struct file_stamp {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint64_t size = 0;
    std::int64_t mtime = 0; // nanoseconds, or the platform's own unit
    bool operator==(const file_stamp&) const = default;
};

enum class open_status { ok, missing, failed };

// Opens path for reading in text mode. Only a regular file is opened; a
// folder, FIFO or device is failed at once, without blocking. missing is
// only for a name that does not exist. On ok, stamp is the file's.
open_status file_open(const char* path, std::FILE*& f, file_stamp& stamp);

// What file_replace is to do.
struct replace_plan {
    const char* path;
    // A symbolic link (or a chain of them) at path: replace the file it
    // ends at, in that file's folder, and keep the link.
    bool follow = true;
    // The new file takes the permissions and owner of this file instead of
    // those of the file it replaces (nullptr: the replaced file's own).
    const char* like = nullptr;
    // Keep the old file as "<name>.bak" beside it first, unless it is this
    // version (nullptr: always, when there is an old file).
    bool guard = false;
    const file_stamp* known = nullptr;
};

enum class replace_status { ok, backed_up, failed };

// Writes a new file with write and puts it in place of the file of the plan
// in one step, so the file is always either the old one or the whole new
// one. The new file is created under a fresh name of its own, exclusively,
// readable only by its owner until it is complete; it then gets the old
// file's permissions (and owner and group where the process may set them,
// never ending more readable than before) and reaches the disk before it
// replaces the old one. A file that the process may not write, or that is
// not a regular file, is not replaced. On failure nothing but the new file
// is touched, and it is removed. On success now is the new file's stamp.
replace_status file_replace(const replace_plan& plan, const std::function<bool(std::FILE*)>& write,
                            file_stamp& now);

// Test seam: each step of a replace, and the close after a load, asks this
// hook first, when it is set, and fails as if the system had refused it
// when the hook returns true.
enum class save_step { create, write, flush, sync, close, rename };
extern bool (*save_fault)(save_step);

// True when the test seam breaks this step.
bool fault(save_step step);

// Benchmark seam: with this cleared, a replace skips the disk syncs, so what
// the rest of a save costs can be measured apart from the disk.
extern bool save_sync;
