// The one conversion between GBK and the wide characters of the Windows
// calls, for typed input, console output, the register's text and names
// alike. Defined in encoding_win32.cpp.
#pragma once

#include <windows.h>

// GB18030 (54936) where the system has it, which agrees with GBK on every
// GBK character; 936 where it does not (as under wine).
UINT gbk_code_page();

// The wide character at w (n units: 1, or 2 for a surrogate pair) as GBK
// into g; 0 when GBK has no room for it.
int wide_to_gbk(const wchar_t* w, int n, char (&g)[4]);
