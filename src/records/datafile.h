// The data file "student.txt" in the working directory: the only lasting
// form of the register. One record per line, eight fields separated by
// single spaces, the age in decimal. This code reports what happened; the
// screens say it to the operator.
#pragma once

#include "records/file.h"

#include <string>
#include <string_view>

// What the reader found in a file.
enum class load_status { ok, missing, unreadable, bad_record, too_many, close_failed };

// Replaces the table with the records of "student.txt". Anything but ok
// leaves the table exactly as it was; on bad_record, bad is the 1-based
// number of the first bad record. On ok the table counts as saved.
load_status load_file(int& bad);

// After a load_file that refused a record of a UTF-8 register because it
// holds a character GBK cannot hold: which field (0-7, in file order) and
// that character, in UTF-8. False after any other load.
bool unheld_character(int& field, std::string& ch);

// Replaces "student.txt" with the records in use, whole or not at all
// (file_replace). If the file there is not the one this program last
// loaded or saved, unchanged since, it is first kept as a backup
// (backed_up, with its name). With fresh, the file is made where there was
// none, and one that another program made first is left alone (appeared).
// On ok or backed_up the table counts as saved.
replace_result save_file(bool fresh = false);

// Writes the records in use to the first free name of "student.unsaved.txt",
// "student.unsaved.2.txt", ... (file_keep), never more open than
// "student.txt" and always open to its owner; name is the name written. The
// same table kept before in this session, whose file is still there, is not
// written again: name is that file. The table still counts as unsaved: this
// file is not the register.
bool save_unsaved(std::string& name);

// Makes path (relative to the working folder, or absolute) the register instead
// of "student.txt": every later load and save works on it, and its backups and
// recovery files take their names from it, beside it. A file in UTF-8 (see
// sniffer) is loaded as such and saved back in UTF-8; anything else is GBK.
void use_file(std::string_view path);

// The register's path, as use_file was given it.
const std::string& file_path();
