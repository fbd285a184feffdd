// Every conversion of the Windows build between GBK, UTF-8 and the wide
// characters of the Windows calls: typed input, console output, the
// register's text, names and the command line alike. Defined in
// encoding_win32.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The wide text w as GBK, with none standing in for each character GBK has
// no room for (a surrogate pair, or half of one, is such a character).
std::string wide_gbk(std::wstring_view w, char none);

// UTF-8 as wide characters, and back.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view w);

// The GBK text [p, p + n), going on from what cut holds, as wide
// characters: a character the text ends inside (a lead byte, or the start
// of a four-byte GB18030 form) waits in cut for its rest.
std::wstring gbk_wide(std::string& cut, const char* p, std::size_t n);
