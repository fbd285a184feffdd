// The main menu's entries, in one table: the menu shows them, a choice is
// carried out by looking it up, and --help lists them, all from here.
#pragma once

#include <cstdint>
#include <span>
#include <string>

struct menu_entry {
    std::int32_t number;
    const char* label;
    void (*screen)(); // runs the entry's dialogue to its end
    const char* help; // what --help says of it beyond its label; may be empty
};

// Every entry, in the menu's order.
std::span<const menu_entry> menu_entries();

// The entry's line in the menu: its number and label, padded so that every
// entry's line has one width and they line up under the title.
std::string menu_line(const menu_entry& e);

// The entry's line in --help: its number, its label and its help, the helps
// lined up in one column.
std::string help_line(const menu_entry& e);
