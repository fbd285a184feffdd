// The save's algorithm is file.cpp's, once for both platforms; this is what
// it asks of the system, each defined once per platform (file_posix.cpp,
// file_win32.cpp and the files beside them). Used by the file layer alone.
#pragma once

#include "records/file.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using writer = std::function<bool(std::FILE*)>;

// Milliseconds on a clock that only goes forward, and a pause of some of
// them (cut short by a signal on POSIX, so a request to stop is seen).
long long sys_ms();
void sys_pause(long ms);

// How long one save waits for others in all: for another program's turn,
// and for a scanner, indexer or spreadsheet to let go of a file.
struct wait_budget {
    long long end = sys_ms() + 5000;
    long step = 1;
    replace_status why = replace_status::busy;
};

// Waits a little longer each time; false once the time is up (why: busy)
// or the program asks to stop (why: stopped).
bool wait_more(wait_budget& w);

// The file a save replaces (or writes where there was none), as one attempt
// found it, and the turn on it while the attempt lasts.
struct sys_file {
    std::string target;   // where it is, links followed
    bool exists = false;
    file_stamp stamp;     // exists: the version the turn was taken on
    bool locked = false;  // the turn is had on the file itself
    std::shared_ptr<void> own; // the platform's: its lock, what it knows
};

// The turn file_hold keeps until file_release; a save's turn on the same
// file is this one.
extern sys_file held;

// What the last system call that failed says, in the operator's terms;
// denied says whose permission it was (the file's or its folder's).
file_cause sys_cause(file_cause denied);

// Finds the file of path (f.target, f.exists); false when that fails.
bool sys_find(const char* path, sys_file& f);

// sys_find, refusing a file an overwrite in place would be refused (r says
// why); true to go on.
bool sys_look(const char* path, sys_file& f, replace_result& r);

enum class turn_status { mine, moved, refused };

// Takes the turn on f between programs (why: refused's reason); moved when
// the name leads to another file by then. f.exists and f.stamp are then
// what the turn holds.
turn_status sys_turn(sys_file& f, wait_budget& w, replace_status& why);

// The file whose access a kept copy takes (file_keep's like), in f.
void sys_like(const char* like, sys_file& f);

// A new file under a fresh name made from base, open to write, ours alone;
// bytes: no CR put before each LF. nullptr when it cannot be had.
std::FILE* sys_new_file(const std::string& base, bool bytes, std::string& temp);

// Gives the new file f the access of like (nothing there: a fresh file's).
void sys_access(std::FILE* f, const sys_file& like, bool owner_rw);
bool sys_sync(std::FILE* f);
bool sys_stamp(std::FILE* f, file_stamp& stamp);

// Gives temp the name to only if nothing holds it, never following,
// replacing or waiting on anything.
bool sys_put_new(const std::string& temp, const std::string& to);

// After a name of a series could not be had: whether something holds it
// that moves the series on (any: whatever it is; else only an earlier
// version, a regular file).
bool sys_taken(const std::string& name, bool any);

// Syncs the folder holding name, so a new name in it survives a power loss.
void sys_sync_folder(const std::string& name);

// Readies the old file's new place before it is replaced (kept): under the
// backup series' first free name when due (no_backup in r when it cannot
// be had); false, with r, when the replace cannot go on.
bool sys_set_aside(sys_file& f, const char* path, bool due, std::string& kept, replace_result& r);

// Puts the written temp (mine) in place of f, the old one going to kept
// (a backup when due); true when another program's file came meanwhile and
// the attempt starts over. r and now (the file's stamp then) say how it went.
bool sys_put(sys_file& f, const std::string& temp, const std::string& kept, bool due, wait_budget& w,
             replace_result& r, const file_stamp& mine, file_stamp& now);

// The backup series' stem: the register's name, cut short where it is near
// the longest a folder takes, so a backup is never refused for want of a name.
std::string backup_stem(const char* path);

// Writes a new file with write under a fresh name from base (temp), as far
// as the disk, with like's access; on failure nothing is left and the
// system's reason stands.
bool write_new(const std::string& base, const sys_file& like, const writer& write, bool bytes,
               bool owner_rw, std::string& temp, file_stamp& stamp);

// Takes the first free name of the series stem + ext with take (sys_taken
// says which names move it on); name is the name had, or the one that
// stopped the search.
bool claim_series(const std::string& stem, const char* ext, bool any,
                  const std::function<bool(const std::string&)>& take, std::string& name);
