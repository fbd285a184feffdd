// Bytes on their way from and to a terminal, apart from any terminal: where
// a key or an answer ends, and which characters must not reach the screen.
#pragma once

#include "records/encoding.h"
#include "records/fields.h"

#include <cstddef>

// How many of the n bytes (n > 0) read at a pause make its key: one
// character in the terminal's encoding (GBK when gb, else UTF-8), one
// escape sequence (an arrow key, the Linux console's ESC [ [ A), or ESC and
// one key (Alt). 0 when the bytes end before the key does: the rest is on
// its way, or the key is ESC alone.
std::size_t key_length(const char* k, std::size_t n, bool gb);

// Shows C1 control characters (U+0080 to U+009F, which a value can hold as
// four GB18030 bytes) in the n bytes of UTF-8 text at p as "?": some
// terminals act on them as on escape sequences. Returns the new length.
std::size_t no_c1(char* p, std::size_t n);

// Shows every byte of the n bytes at p that is not part of a GBK character,
// and every control byte but the line break, as "?", in place: a stored
// value came from a file anyone may have written, and at a terminal such
// bytes could move the cursor, set the title or start an escape sequence.
void mask_shown(char* p, std::size_t n);

// Where the first answer in the n bytes at p lies: from is past the white
// space before it, to is past the answer; from == to when there is none.
struct answer_at {
    std::size_t from;
    std::size_t to;
};
answer_at first_answer(const char* p, std::size_t n);
