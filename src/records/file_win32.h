// What the Windows file layer's parts share: file_win32.cpp (names, file
// identities, waits and fresh files), turn_win32.cpp (the turn between
// programs) and replace_win32.cpp (writing a file whole or not at all).
// Used by them alone. Names are UTF-8; every call is the wide one.
#pragma once

#include "records/file.h"

#include <cstdio>
#include <functional>
#include <string>
#include <windows.h>

const DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring wide(const std::string& s);
HANDLE create(const std::string& name, DWORD access, DWORD share, DWORD how);
DWORD attributes(const std::string& name);
void erase(const std::string& name);
bool move_file(const std::string& from, const std::string& to, DWORD flags);

// How long one save waits for others in all: for another copy's turn, and
// for a scanner, indexer or spreadsheet to let go of a file.
struct wait_budget {
    ULONGLONG end = GetTickCount64() + 5000;
    DWORD step = 1;
    replace_status why = replace_status::busy;
};

// Waits a little longer each time; false once the time is up or the
// program asks to stop, with why saying which.
bool wait_more(wait_budget& w);

// Whether the error e says another program holds the file for now.
bool held_elsewhere(DWORD e);

// The identity of the file open at h, or at path.
bool stamp_of(HANDLE h, file_stamp& stamp);
bool stamp_at(const std::string& path, file_stamp& stamp);
bool same_file(const file_stamp& a, const file_stamp& b);

// Whether the file at name is the very one stamped: the empty file this
// program created to claim the name, say.
bool is_file(const std::string& name, const file_stamp& stamp);

// Whether name is a file: not a folder, a link or a device.
bool plain_file_at(const std::string& name);

// A name beside path that nothing holds yet, created empty by this call, so
// no other file or link is ever opened under it.
HANDLE create_fresh(const std::string& path, const char* suffix, std::string& name);

// Writes the new file under a fresh name beside path (temp); false on
// failure, with the fresh file removed. bytes: no CR put before each LF.
bool write_temp(const std::string& path, const std::function<bool(std::FILE*)>& write,
                bool bytes, std::string& temp);

// The register, open only to hold the turn: it shares everything, so the
// replace itself, and every reader, goes on around it.
struct turn {
    HANDLE h = INVALID_HANDLE_VALUE;
    void release()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    ~turn() { release(); }
};

enum class turn_status { mine, moved, refused };

// Takes the turn on the register at path; moved when, once it is had, the
// name leads to another file (a save that went first replaced it).
turn_status take_turn(const std::string& path, turn& t, wait_budget& w, replace_status& why);
