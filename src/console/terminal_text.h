// Bytes on their way from and to a terminal, apart from any terminal: where
// a key ends, and which characters must not reach the screen.
#pragma once

#include <cstddef>

// How many of the n bytes (n > 0) read at a pause make its key: one
// character in the terminal's encoding (GBK when gb, else UTF-8), or one
// escape sequence (an arrow key, say). Never more than n.
std::size_t key_length(const char* k, std::size_t n, bool gb);

// Shows C1 control characters (U+0080 to U+009F, which a value can hold as
// four GB18030 bytes) in the n bytes of UTF-8 text at p as "?": some
// terminals act on them as on escape sequences. Returns the new length.
std::size_t no_c1(char* p, std::size_t n);
