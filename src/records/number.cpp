#include "records/number.h"

#include <charconv>

bool parse_int(std::string_view s, std::int32_t& out)
{
    // from_chars takes a minus sign but not a plus sign, and would read
    // "+-5" as -5 once the plus is stripped, so the first character after
    // an explicit plus must be a digit.
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (s.empty() || s.front() < '0' || s.front() > '9')
            return false;
    }
    std::int32_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty())
        return false;
    out = v;
    return true;
}
