// Questions whose answers go straight into a record. Each asks again until
// the answer can be stored, so no answer is cut, overruns its field, or
// shifts into the next question.
#pragma once

#include "records/table.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Writes q and reads a word until one of at most cap bytes without control
// bytes comes; a longer one is refused with a message naming cap, one
// holding a control byte (an arrow key, say) with its own message, and one
// holding anything but GBK characters (which the register could not give
// back to a GBK program) with another.
std::string ask_text(std::string_view q, std::size_t cap);

// Writes q and reads until a whole 32-bit number comes.
std::int32_t ask_number(std::string_view q);

// Asks q and stores the answer in a text field of the record.
template <std::size_t N>
void ask_field(std::string_view q, char (&field)[N])
{
    put(field, ask_text(q, N - 1));
}
