// Questions whose answers go straight into a record. Each asks again until
// the answer can be stored, so no answer is cut, overruns its field, or
// shifts into the next question.
#pragma once

#include "records/fields.h"

#include <string_view>

// Writes q and reads a word until one passes store for field f of r, which
// then holds it. Each refusal has its own message: a control byte (an arrow
// key, say), anything but GBK characters (which the register could not
// give back to a GBK program), too many bytes (naming the most), no number.
void ask_value(std::string_view q, student& r, const field_info& f);
