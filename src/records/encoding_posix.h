// What only the POSIX build asks of the encodings.
#pragma once

#include <cstddef>
#include <string>

// Whether the locale the program runs in speaks GBK (GBK, GB2312 or GB18030):
// then a terminal, and the system's names, are taken to be GBK and nothing is
// converted; otherwise they are UTF-8. Sets LC_CTYPE from the environment.
bool gbk_locale();

// Text converted between GBK and UTF-8 as it comes, in pieces: a character
// a piece ends inside waits in cut for the rest. GBK goes in and out as
// GB18030, so what a UTF-8 terminal or a name holds beyond GBK passes
// through in its four-byte form (and the value checks refuse it). The
// terminal, the names in messages and the command line all convert here.
struct recoder {
    bool to_utf8;
    void* cd = nullptr; // the system's converter, opened at first use
    std::string cut = {};

    explicit recoder(bool utf8) : to_utf8(utf8) {}
    recoder(const recoder&) = delete;
    recoder& operator=(const recoder&) = delete;
    ~recoder();
};

// Appends the n bytes at p to out, converted. A byte that starts no
// character goes out as it is, or as stand_in (0 to 255) when one is given;
// false when one did. Without a converter every byte goes out as it is.
bool recode(recoder& r, const char* p, std::size_t n, std::string& out, int stand_in = -1);

// Ends the text: a character cut off at its end goes out as its bytes are,
// or each as stand_in. False when there was one.
bool recode_end(recoder& r, std::string& out, int stand_in = -1);
