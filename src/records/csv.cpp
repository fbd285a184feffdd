#include "records/csv.h"

#include "records/encoding.h"
#include "records/fields.h"
#include "records/table.h"

#include <algorithm>
#include <string>

namespace {

void add_value(std::string& out, std::string_view v, bool text)
{
    std::string s = text && guarded(v) ? "'" + std::string(v) : std::string(v);
    if (s.find_first_of(",\"\r\n") == s.npos) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    out += '"';
}

} // namespace

bool guarded(std::string_view v)
{
    std::size_t k = v.find_first_not_of('\'');
    return k != v.npos && (v[k] == '=' || v[k] == '+' || v[k] == '-' || v[k] == '@');
}

bool csv_text(std::string& out, int& row, int& field)
{
    std::string text(utf8_mark), v;
    for (int c = 0; c < field_count; ++c)
        gbk_to_utf8(std::string(c ? "," : "") + fields[c].name, text);
    for (int k = 0; k < n; ++k) {
        text += "\r\n";
        for (int c = 0; c < field_count; ++c) {
            v = c ? "," : "";
            add_value(v, value_text(stu[k], fields[c]), !fields[c].number);
            if (!gbk_to_utf8(v, text)) {
                row = k + 1;
                field = c;
                return false;
            }
        }
    }
    out.swap(text += "\r\n");
    return true;
}

std::string folded(std::string_view v)
{
    std::string s;
    for (std::size_t k = 0, len; k < v.size(); k += len) {
        len = std::max<std::size_t>(gbk_length(v.data() + k, v.size() - k), 1);
        auto lead = static_cast<unsigned char>(v[k]);
        auto trail = len == 2 ? static_cast<unsigned char>(v[k + 1]) : 0;
        char ascii = len == 1 ? v[k] : lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE ? static_cast<char>(trail - 0x80)
                                     : lead == 0xA1 && trail == 0xA1 ? ' ' : '\0';
        if (ascii >= 'A' && ascii <= 'Z')
            ascii = static_cast<char>(ascii - 'A' + 'a');
        if (ascii)
            s += ascii;
        else
            s.append(v.substr(k, len));
    }
    std::size_t first = s.find_first_not_of(" \t");
    return first == s.npos ? std::string() : s.substr(first, s.find_last_not_of(" \t") + 1 - first);
}

namespace {

// Whether f, folded, is one of the comma-separated names; a comma is never
// part of a GBK character.
bool among(const std::string& f, std::string_view names)
{
    for (std::size_t k = 0, end; k < names.size(); k = end + 1) {
        end = std::min(names.find(',', k), names.size());
        if (f == folded(names.substr(k, end - k)))
            return true;
    }
    return false;
}

} // namespace

int csv_column(std::string_view cell)
{
    std::string f = folded(cell);
    for (int c = 0; c < field_count; ++c)
        if (f == folded(fields[c].name) || among(f, fields[c].also))
            return c;
    return -1;
}
