// What only the POSIX build asks of the encodings.
#pragma once

// Whether the locale the program runs in speaks GBK (GBK, GB2312 or
// GB18030): then a terminal, and the system's names, are taken to be GBK
// and nothing is converted; otherwise they are UTF-8. Sets LC_CTYPE from
// the environment.
bool gbk_locale();
