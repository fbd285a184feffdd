// What the Windows file layer's parts share: file_win32.cpp (names, file
// identities, waits and fresh files), turn_win32.cpp (the turn between
// programs) and replace_win32.cpp (the save's system steps).
// Used by them alone. Names are UTF-8; every call is the wide one.
#pragma once

#include "records/codepage_win32.h"
#include "records/file.h"
#include "records/file_sys.h"

#include <cstdio>
#include <string>
#include <windows.h>

const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE create(const std::string& name, DWORD access, DWORD share, DWORD how,
              DWORD flags = FILE_ATTRIBUTE_NORMAL);
DWORD attributes(const std::string& name);

// Whether to try again after the error e: another program holds the file
// for now (a sharing or lock violation, a file pending deletion (5), or a
// replace a scanner or indexer got in the way of (1175, 1176)) and the wait
// w goes on. Otherwise why is what to report: failed, or once the wait ran
// out stopped, busy, or failed when access itself was refused.
bool wait_again(DWORD e, wait_budget& w, replace_status& why);

// What the error e says of a step that failed, in the operator's terms;
// denied says whose permission it was (the file's or its folder's).
file_cause cause_of(DWORD e, file_cause denied);

// The identity of the file open at h, or at path (opened with flags).
bool stamp_of(HANDLE h, file_stamp& stamp);
bool stamp_at(const std::string& path, file_stamp& stamp, DWORD flags = FILE_ATTRIBUTE_NORMAL);

// A stream on the handle h, open with the runtime's flags and mode, which
// then owns h; nullptr, with h closed, when none can be had.
std::FILE* stream_of(HANDLE h, int flags, const char* mode);

// A name beside path that nothing holds yet, created empty by this call, so
// no other file or link is ever opened under it.
HANDLE create_fresh(const std::string& path, const char* suffix, std::string& name);

// The turn between programs saving the same register. Its first part is a
// mutex named after the register's folder and name, which no replace ever
// moves: while one program holds it, the name itself is guarded, even in
// the moment a replace leaves it empty. Its second part, for programs on
// other machines sharing the folder, is a lock on the register itself (far
// past its end, so every reader goes on around it), checked afterwards to
// be on the file the name still leads to.
struct turn {
    HANDLE name = nullptr;            // the mutex, owned by this thread
    HANDLE h = INVALID_HANDLE_VALUE;  // the register, open only for its lock
    bool missing = false;             // no register yet: only the name is held
    file_stamp file;                  // the register the turn was taken on
    ~turn();
};

// Takes the turn on the register at path; moved when, once it is had, the
// name leads to another file (a save that went first replaced it). Within
// file_hold's turn on the same register, the hold's lock is this turn's.
turn_status take_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why);

// Whether the register at path is missing for good: looked for again inside
// the turn, once any save under way (which may have emptied the name for a
// moment) is over, or the wait w has run out.
bool gone(const std::string& path, wait_budget& w);

// Test seam: called inside a save's turn, once the new file is in place
// and before it is taken as this program's own.
extern void (*turn_widen)();

// Test seam: the error a replace broken at save_step::rename reports
// (ERROR_WRITE_PROTECT, which no wait mends, unless set).
extern DWORD rename_fault_error;
