// The main loop and the screens it calls, one per menu entry. Each screen
// runs its own dialogue to its end through the console primitives and
// returns to the loop.
#pragma once

#include "records/datafile.h"
#include "records/fields.h"

#include <string>
#include <string_view>

// Shows the menu and runs the chosen screens until the operator picks 8,
// the input ends or a signal asks the session to end. Unsaved changes are
// then kept in a recovery file (keep_unsaved). Returns the exit status: 0,
// or 1 when there were unsaved changes that could not be kept; after a
// signal the process ends as that signal would end it.
int run();

void refresh(); // menu 1: load the data file
void seek();   // menu 2: query by student number or name
void modify(); // menu 3: change one field of one record
void add();    // menu 4: enter new students
void dele();   // menu 5: delete by student number
void show();   // menu 6: list every record
void save();   // menu 7: write the data file

// Writes r as one row of a listing, each field right-aligned to its width,
// in field order.
void show_record(const student& r, const int (&widths)[field_count]);

// Says how a save went: a backup or a reason on standard error, a failure
// through say_failure (a line of the dialogue, or a notice). True when the
// register was saved.
bool tell_save(const replace_result& r, void (*say_failure)(std::string_view));

// Why a replace of file (as shown) was refused, in one line for standard
// error; empty when the system gave no reason the operator can act on.
std::string refusal_reason(const replace_result& r, const std::string& file);

// After a load that refused record bad of a UTF-8 register for a character
// GBK cannot hold: which field and which character, on standard error.
void tell_unheld(int bad);

// What a load that did not succeed says (the load's own lines).
std::string load_said(load_status st, int bad);

// The sample register installed with the program, when it is there to be
// copied; empty otherwise, and always on Windows, where the sample comes
// beside the program as the student.txt it opens.
std::string installed_sample();

// name as a shell takes it, for a command the operator may copy: quoted
// when it holds anything but the characters file names are usually made of.
std::string for_shell(const std::string& name);

// Keeps changes not yet saved in a recovery file of their own and says so
// on standard error, after calling then (when given) between the two. True
// when they were kept, or there were none.
bool keep_unsaved(void (*then)() = nullptr);
