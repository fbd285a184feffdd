// The encodings a register or a spreadsheet file may come in. The table
// always holds GBK; a file in UTF-8 is converted on its way in and out.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

enum class text_encoding { gbk, utf8, utf8_bom };

// The length of the GBK character that starts the n bytes at p (n > 0): 1
// for an ASCII byte, 2 for a lead byte and a trail byte, 0 when no GBK
// character starts there (0x80, 0xFF, a lead byte without its trail, or
// one of the four-byte GB18030 forms, which no GBK program can read).
std::size_t gbk_length(const char* p, std::size_t n);

// Whether the n bytes at p are GBK characters and nothing else.
bool gbk_text(const char* p, std::size_t n);

// Tells UTF-8 from GBK in a whole text fed in pieces: a text is UTF-8 when
// it starts with the byte-order mark, or when all of it is strict UTF-8 (no
// overlong forms, no surrogates, nothing above U+10FFFF) with at least one
// character beyond ASCII. Anything else (ASCII included) is GBK. A text that
// is both strict UTF-8 and GBK is taken as UTF-8; gbk says so, for the
// caller to read it as GBK after all when its UTF-8 reading holds a
// character GBK has no room for.
struct sniffer {
    bool valid = true;
    bool wide = false; // a character beyond ASCII was seen
    int first = 0;     // bytes of the text seen so far, up to 3
    bool bom = false;
    unsigned char cut[4] = {};
    std::size_t cutlen = 0; // a character the last piece ended inside
    bool gbk = true;        // all of it is GBK characters as well
    bool lead = false;      // the last piece ended on a GBK lead byte

    void feed(const char* p, std::size_t n);
    text_encoding result() const;
};

// Reads f to its end to tell its encoding, then goes back to its start,
// past a byte-order mark. False on a read error. also_gbk is sniffer::gbk.
bool sniff_file(std::FILE* f, text_encoding& enc, bool& also_gbk);

// The byte that stands in for a character GBK cannot hold: never part of a
// GBK character, so whatever takes the value refuses it.
constexpr char no_gbk = '\xFF';

// Converts UTF-8 at [in, in + len) to GBK into out (room bytes, at least
// 4), advancing in and len. A character that GBK cannot hold, or a byte
// that is no UTF-8, is written as no_gbk; a character cut off at the end is
// left in [in, in + len) for its rest. Returns the bytes written.
std::size_t utf8_to_gbk(const char*& in, std::size_t& len, char* out, std::size_t room);

// Appends the GBK text to out as UTF-8. Bytes that are no GBK character are
// passed on as they are.
void gbk_to_utf8(std::string_view gbk, std::string& out);

// The whole of text as GBK, when it is UTF-8 (see utf8_to_gbk).
std::string as_gbk(std::string_view text);
