#include "records/csv.h"

#include "records/encoding.h"
#include "records/number.h"
#include "records/table.h"

#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <vector>

// Written as GBK bytes, so they are the same whatever the compiler does
// with the source's own texts: 学号 姓名 年龄 性别 出生年月 地址 电话 E-mail.
const char* const csv_columns[8] = {"\xd1\xa7\xba\xc5", "\xd0\xd5\xc3\xfb", "\xc4\xea\xc1\xe4",
                                    "\xd0\xd4\xb1\xf0", "\xb3\xf6\xc9\xfa\xc4\xea\xd4\xc2",
                                    "\xb5\xd8\xd6\xb7", "\xb5\xe7\xbb\xb0", "E-mail"};

namespace {

bool formula_start(char c)
{
    return c == '=' || c == '+' || c == '-' || c == '@';
}

// Apostrophes and then a formula's first character.
bool guarded(std::string_view v)
{
    std::size_t k = v.find_first_not_of('\'');
    return k != v.npos && formula_start(v[k]);
}

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

// The first value holding a byte with no Unicode form: rare, so looked
// for only once the whole text has been found to hold one.
void find_lost(int& row, int& field)
{
    std::string u;
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        const char* texts[] = {r.id, r.name, nullptr, r.sex, r.birth, r.address, r.phone, r.email};
        for (int c = 0; c < 8; ++c)
            if (texts[c] && !gbk_to_utf8(texts[c], u)) {
                row = k + 1;
                field = c;
                return;
            }
    }
}

} // namespace

bool csv_text(std::string& out, int& row, int& field)
{
    std::string gbk;
    for (int k = 0; k < 8; ++k)
        gbk += std::string(k ? "," : "") + csv_columns[k];
    gbk += "\r\n";
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        const char* texts[] = {r.id, r.name, nullptr, r.sex, r.birth, r.address, r.phone, r.email};
        for (int c = 0; c < 8; ++c) {
            if (c)
                gbk += ',';
            add_value(gbk, texts[c] ? texts[c] : std::to_string(r.age), texts[c] != nullptr);
        }
        gbk += "\r\n";
    }
    std::string text = "\xEF\xBB\xBF";
    if (!gbk_to_utf8(gbk, text)) {
        find_lost(row, field);
        return false;
    }
    out.swap(text);
    return true;
}

namespace {

// Splits CSV text into rows of values, one row at a time.
struct csv_reader {
    std::string_view text;
    std::size_t pos = 0;
    bool bad = false; // a quote out of place, or never closed

    // The next row's values; false at the end of the text.
    bool row(std::vector<std::string>& values)
    {
        values.clear();
        if (pos >= text.size())
            return false;
        for (;;) {
            values.emplace_back();
            if (!value(values.back()) || pos >= text.size())
                return true;
            char c = text[pos++];
            if (c == '\n' || (c == '\r' && pos < text.size() && text[pos] == '\n' && ++pos))
                return true;
            if (c != ',') {
                bad = true;
                return true;
            }
        }
    }

    // One value, up to the comma or line end after it; false when bad.
    bool value(std::string& v)
    {
        if (pos < text.size() && text[pos] == '"') {
            for (++pos; pos < text.size(); ++pos) {
                if (text[pos] != '"')
                    v += text[pos];
                else if (pos + 1 < text.size() && text[pos + 1] == '"')
                    v += text[pos++];
                else
                    break;
            }
            if (pos >= text.size())
                return !(bad = true); // never closed
            ++pos;
            if (pos < text.size() && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n')
                return !(bad = true);
            return true;
        }
        while (pos < text.size() && text[pos] != ',' && text[pos] != '\n' &&
               !(text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n'))
            v += text[pos++];
        if (v.find('"') != v.npos)
            return !(bad = true);
        return true;
    }
};

const std::size_t caps[8] = {ID_CAP, NAME_CAP, 0, SEX_CAP, BIRTH_CAP, ADDRESS_CAP, PHONE_CAP, EMAIL_CAP};

bool space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Checks one text value (the export's apostrophe already taken off).
csv_fault check_text(const std::string& v, std::size_t cap)
{
    if (v.empty())
        return csv_fault::empty;
    for (char c : v)
        if (space(c))
            return csv_fault::blank;
    for (char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return csv_fault::control;
    if (!gbk_text(v.data(), v.size()))
        return csv_fault::not_gbk;
    return v.size() > cap ? csv_fault::too_long : csv_fault::none;
}

// Checks one row and fills r from it.
csv_refusal check_row(std::vector<std::string>& values, student& r)
{
    if (values.size() != 8)
        return {csv_fault::fields, 0, static_cast<int>(values.size())};
    char* texts[] = {r.id, r.name, nullptr, r.sex, r.birth, r.address, r.phone, r.email};
    r = student{};
    for (int c = 0; c < 8; ++c) {
        std::string& v = values[c];
        if (!texts[c]) {
            if (!parse_int(v, r.age))
                return {csv_fault::age, 0, c};
            continue;
        }
        if (v.size() > 1 && v[0] == '\'' && guarded(v))
            v.erase(0, 1);
        if (csv_fault f = check_text(v, caps[c]); f != csv_fault::none)
            return {f, 0, c, caps[c]};
        std::memcpy(texts[c], v.data(), v.size());
    }
    return {};
}

bool header(const std::vector<std::string>& values)
{
    if (values.size() != 8)
        return false;
    for (int c = 0; c < 8; ++c)
        if (values[c] != csv_columns[c])
            return false;
    return true;
}

} // namespace

csv_refusal import_csv(std::string_view text, int& added)
{
    sniffer s;
    s.feed(text.data(), text.size());
    text_encoding enc = s.result();
    std::string gbk;
    if (enc != text_encoding::gbk) {
        gbk = as_gbk(text.substr(enc == text_encoding::utf8_bom ? 3 : 0));
        // GBK that happens to be UTF-8 too: GBK after all when its UTF-8
        // reading holds characters GBK has no room for.
        if (enc == text_encoding::utf8 && gbk.find(no_gbk) != gbk.npos && gbk_text(text.data(), text.size()))
            enc = text_encoding::gbk;
    }
    if (enc == text_encoding::gbk) {
        // Through Unicode and back: a byte pair shaped like GBK that is no
        // character becomes no_gbk, so no value is taken that could not be
        // exported again.
        std::string u;
        gbk_to_utf8(text, u);
        gbk = as_gbk(u);
    }
    csv_reader in{gbk};
    std::unordered_set<std::string> taken;
    for (int k = 0; k < n; ++k)
        taken.insert(stu[k].id);
    std::vector<std::string> values;
    int count = 0;
    for (int row = 1; in.row(values); ++row) {
        if (in.bad)
            return {csv_fault::quote, row};
        if ((values.size() == 1 && values[0].empty()) || (row == 1 && header(values)))
            continue;
        if (n + count == STUDENT_CAPACITY)
            return {csv_fault::too_many, row};
        csv_refusal r = check_row(values, stu[n + count]);
        r.row = row;
        if (r.fault != csv_fault::none)
            return r;
        if (!taken.insert(stu[n + count].id).second)
            return {csv_fault::taken, row, 0};
        ++count;
    }
    n += count;
    added = count;
    if (count > 0)
        dirty = true;
    return {};
}
