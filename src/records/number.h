// The one number parser of the program: used for menu answers, counts,
// ages typed at the console and ages in the data file.
#pragma once

#include <cstdint>
#include <string_view>

// True when the whole of s is an optional sign followed by decimal digits
// and the value fits a 32-bit signed integer; the value is then stored in
// out. Anything else (empty, "6abc", "99999999999", "+-5") is refused and
// out is left alone.
bool parse_int(std::string_view s, std::int32_t& out);
