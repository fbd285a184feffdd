// Every conversion of the Windows build between GBK, UTF-8 and the wide
// characters of the Windows calls: typed input, console output, the
// register's text, names and the command line alike. Defined in
// encoding_win32.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <windows.h>

// GB18030 (54936) where the system has it, which agrees with GBK on every
// GBK character; 936 where it does not (as under wine).
UINT gbk_code_page();

// The wide character at w (n units: 1, or 2 for a surrogate pair) as GBK
// into g; 0 when GBK has no room for it.
int wide_to_gbk(const wchar_t* w, int n, char (&g)[4]);

// UTF-8 as wide characters, and back.
std::wstring wide(std::string_view utf8);
std::string narrow(std::wstring_view w);

// The GBK text [p, p + n), going on from what cut holds, as wide
// characters: a character the text ends inside (a lead byte, or the start
// of a four-byte GB18030 form) waits in cut for its rest.
std::wstring gbk_wide(std::string& cut, const char* p, std::size_t n);
