// What the POSIX file layer's parts share: file_posix.cpp (where a file is)
// and replace_posix.cpp (the save's system steps, who may read what it
// writes, and the turn between programs). Used by them alone.
#pragma once

#include "records/file.h"
#include "records/file_sys.h"

#include <string>
#include <sys/stat.h>

file_stamp stamp_of(const struct stat& st);

// The folder that holds path: "." for a bare name.
std::string folder_of(const std::string& path);

// The name a chain of symbolic links starting at path ends at; the file
// there need not exist. Empty when the chain loops, cannot be read, or
// holds a link that may not be followed.
std::string resolve(const std::string& path);
