// Text converted with iconv between the program's GBK and a UTF-8
// terminal, in the pieces that reads and flushes cut it into. Used only by
// the POSIX terminal layer.
#pragma once

#include <cstddef>
#include <iconv.h>
#include <string>

// Converts as much of [p, p + len) as forms whole characters into dst
// (room bytes), advancing p and len. Bytes that are not valid input are
// passed on unchanged, so nothing is lost, or, with a stand_in (0 to 255),
// each written as that byte instead; a character cut off at the end is left
// in [p, p + len) for its rest. Returns the bytes written.
std::size_t convert(iconv_t cd, const char*& p, std::size_t& len, char* dst, std::size_t room,
                    int stand_in = -1);

// The byte that stands for typed bytes that are no character: no GBK
// character holds it, so no question takes an answer with it.
constexpr int not_a_character = 0xFF;

// Output on its way to the terminal through cd, written in pieces: a
// character that a piece ends in the middle of waits in cut for its rest.
struct recoder {
    iconv_t cd;
    std::string cut = {};
};

// Appends the n bytes at p to out, converted, with C1 controls shown as
// "?" (see no_c1).
void recode(recoder& r, const char* p, std::size_t n, std::string& out);
