// The encodings a register or a spreadsheet file may come in. The table
// always holds GBK; a file in UTF-8 is converted on its way in and out.
// GBK here is every two-byte pair (lead 0x81-0xFE, trail 0x40-0x7E or
// 0x80-0xFE) as GB18030 reads it, the same pairs a terminal stores: GBK's
// own characters, the euro sign, the user-defined areas and the few that
// GB18030 added. A character whose GB18030 form takes four bytes is one
// that "GBK cannot hold". (On a Windows without GB18030, code page 936
// decides, which reads some pairs as other characters.)
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

enum class text_encoding { gbk, utf8, utf8_bom };

// The byte-order mark that may start a UTF-8 text.
constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";

// The length of the GBK character that starts the n bytes at p (n > 0): 1
// for an ASCII byte, 2 for a lead byte and a trail byte, 0 when no GBK
// character starts there (0x80, 0xFF, a lead byte without its trail, or
// one of the four-byte GB18030 forms, which no GBK program can read).
std::size_t gbk_length(const char* p, std::size_t n);

// Whether the n bytes at p are GBK characters and nothing else.
bool gbk_text(const char* p, std::size_t n);

// The length of the UTF-8 character at p when all of its n bytes (n > 0)
// are there and it is strict (no overlong form, no surrogate, nothing above
// U+10FFFF); 0 when it is not UTF-8; -1 when it goes on beyond n.
inline int utf8_length(const unsigned char* p, std::size_t n)
{
    unsigned char b = p[0];
    int len = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
            : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (len <= 1)
        return len;
    // The second byte's range rules out overlong forms, surrogates and
    // anything above U+10FFFF.
    unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    unsigned char hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    for (int k = 1; k < len; ++k) {
        if (static_cast<std::size_t>(k) >= n)
            return -1;
        unsigned char c = p[k];
        if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
            return 0;
    }
    return len;
}


// Tells UTF-8 from GBK in a whole text fed in pieces: a text is UTF-8 when
// it starts with the byte-order mark, or when all of it is strict UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF) with at least one
// character beyond ASCII. Anything else (ASCII included) is GBK. A text that
// is both strict UTF-8 and GBK is taken as UTF-8; a caller may read it as
// GBK after all when its UTF-8 reading holds a character GBK has no room for.
struct sniffer {
    bool valid = true;
    bool wide = false; // a character beyond ASCII was seen
    bool deep = false; // one of three bytes or more (every Chinese character)
    bool odd = false;  // one of three bytes that text seldom holds (see usual)
    int first = 0;     // bytes of the text seen so far, up to 3
    bool bom = false;
    unsigned char cut[4] = {};
    std::size_t cutlen = 0; // a character the last piece ended inside

    void feed(const char* p, std::size_t n);
    text_encoding result() const;
};

// Reads as much of f as it takes to tell its encoding: up to the first
// character beyond ASCII when that is strict UTF-8 (utf8 then only means
// that the file begins as UTF-8: whoever reads on must still check the rest
// with utf8_to_gbk's strict), or to its end. Then goes back to its start,
// past a byte-order mark. False on a read error.
bool sniff_file(std::FILE* f, text_encoding& enc);

// Whether all of f is GBK characters; f is back at its start after.
bool gbk_file(std::FILE* f);

// Whether all of f is strict UTF-8 holding a character of three bytes or
// more, each of three bytes one that text holds (Chinese, Japanese kana,
// punctuation and symbols, full-width forms); f is back at its start after.
// A GBK text almost never is: a level-two character such as 岑 (E1 AF) may
// start a strict three-byte form by chance, but one far from the Chinese
// ones. Such a file is UTF-8 for good: a character in it that GBK cannot
// hold refuses its record, rather than the file being read as GBK.
bool deep_utf8_file(std::FILE* f);

// The byte that stands in for a character GBK cannot hold: never part of a
// GBK character, so whatever takes the value refuses it.
constexpr char no_gbk = '\xFF';

// Converts UTF-8 at [in, in + len) to GBK into out (room bytes, at least
// 4), advancing in and len. A character that GBK cannot hold, or a byte
// that is no UTF-8, is written as no_gbk, and for the latter strict is
// cleared; a character cut off at the end is left in [in, in + len) for its
// rest. Returns the bytes written.
std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room, bool& strict);

// A file read as GBK: byte for byte, or, with utf8, converted from UTF-8 block
// by block as it is read (see utf8_to_gbk), a character cut by one block
// carried into the next. The data file and the CSV import both read through it.
struct gbk_reader {
    std::FILE* f = nullptr;
    bool utf8 = false;
    bool strict = true;    // all UTF-8 read so far was strict
    bool stood_in = false; // no_gbk stood in for a character in what was read
    char raw[1 << 14];
    std::size_t rawlen = 0;

    // Reads up to room bytes (at least 4), as GBK, into to; 0 only at the
    // end of the file or on a read error.
    std::size_t read(char* to, std::size_t room);
};

// What a byte that starts no GBK character becomes in UTF-8: U+FFFD, the
// replacement character, which GBK cannot hold either.
constexpr std::string_view no_unicode = "\xEF\xBF\xBD";

// Appends the GBK text to out as UTF-8, which is always valid UTF-8: each
// byte that starts no character with a Unicode form (0x80, 0xFF, a lead
// byte without its trail, a pair no converter maps) becomes no_unicode.
// False when that happened: a value that would not come back the same.
bool gbk_to_utf8(std::string_view gbk, std::string& out);

// The whole of text as GBK, when it is UTF-8 (see utf8_to_gbk).
std::string as_gbk(std::string_view text);

