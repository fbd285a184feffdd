#include "records/csv.h"

#include "records/encoding.h"
#include "records/number.h"
#include "records/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <utility>

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

// Every other name a column goes by, in GBK: 出生日期; 家庭住址, 住址; 电话号码,
// 手机, 手机号, 联系电话; Email, 邮箱, 电子邮件, 电子邮箱.
const struct {
    int column;
    const char* name;
} variants[] = {
    {4, "\xb3\xf6\xc9\xfa\xc8\xd5\xc6\xda"},
    {5, "\xbc\xd2\xcd\xa5\xd7\xa1\xd6\xb7"},
    {5, "\xd7\xa1\xd6\xb7"},
    {6, "\xb5\xe7\xbb\xb0\xba\xc5\xc2\xeb"},
    {6, "\xca\xd6\xbb\xfa"},
    {6, "\xca\xd6\xbb\xfa\xba\xc5"},
    {6, "\xc1\xaa\xcf\xb5\xb5\xe7\xbb\xb0"},
    {7, "Email"},
    {7, "\xd3\xca\xcf\xe4"},
    {7, "\xb5\xe7\xd7\xd3\xd3\xca\xbc\xfe"},
    {7, "\xb5\xe7\xd7\xd3\xd3\xca\xcf\xe4"},
};

bool space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// A name as it is compared: full-width ASCII (A3A1-A3FE) and the
// ideographic space (A1A1) as their ASCII forms, letters in lower case,
// no spaces around it.
std::string folded(std::string_view v)
{
    std::string s;
    for (std::size_t k = 0, len; k < v.size(); k += len) {
        len = gbk_length(v.data() + k, v.size() - k);
        auto lead = static_cast<unsigned char>(v[k]);
        auto trail = len == 2 ? static_cast<unsigned char>(v[k + 1]) : 0;
        char ascii = len == 1 ? v[k] : lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE ? static_cast<char>(trail - 0x80)
                                     : lead == 0xA1 && trail == 0xA1 ? ' ' : '\0';
        len = len ? len : 1;
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

} // namespace

int csv_column(std::string_view cell)
{
    std::string f = folded(cell);
    for (int c = 0; c < 8; ++c)
        if (f == folded(csv_columns[c]))
            return c;
    for (const auto& v : variants)
        if (f == folded(v.name))
            return v.column;
    return -1;
}

namespace {

// The first bytes of a value that are kept: more than any field holds
// and any column's name is long, so a longer value is refused all the same.
constexpr std::size_t value_keep = 64;
// The values of a row that are kept: one more than a student has, so an
// extra cell of a header can be named.
constexpr std::size_t values_keep = 9;

// One row as read: its first values, each cut to value_keep bytes.
struct csv_row {
    std::string values[values_keep];
    bool cut[values_keep] = {};
    long long count = 0; // values in the row, kept or not
    bool filled = false; // some value holds more than white space
};

// How many of the row's values are kept.
std::size_t kept(const csv_row& r)
{
    return static_cast<std::size_t>(std::min<long long>(r.count, values_keep));
}

// Reads a file as GBK bytes, from UTF-8 when it is UTF-8, in blocks.
struct gbk_input {
    gbk_reader file;
    char buf[1 << 14];
    std::size_t pos = 0;
    std::size_t len = 0;

    bool fill()
    {
        pos = 0;
        return (len = file.read(buf, sizeof buf)) > 0;
    }

    // The next byte, or EOF at the end (or on a read error).
    int peek() { return pos < len || fill() ? static_cast<unsigned char>(buf[pos]) : EOF; }
    int get()
    {
        int c = peek();
        pos += c != EOF;
        return c;
    }
};

// Splits CSV into rows of values, one row at a time.
struct csv_reader {
    gbk_input in;
    bool bad = false; // a quote out of place, or never closed

    // The next row; false at the end of the file.
    bool row(csv_row& r)
    {
        r.count = 0;
        r.filled = false;
        if (in.peek() == EOF)
            return false;
        for (;;) {
            std::size_t k = kept(r);
            if (k < values_keep) {
                r.values[k].clear();
                r.cut[k] = false;
            }
            ++r.count;
            if (!value(r, k))
                return true; // bad: nothing after it is read
            int c = in.get();
            if (c == EOF || c == '\n')
                return true;
            if (c != ',') {
                bad = true;
                return true;
            }
        }
    }

    void add(csv_row& r, std::size_t k, int c)
    {
        r.filled = r.filled || !space(static_cast<char>(c));
        if (k >= values_keep)
            return; // past the values kept: only its count matters
        if (r.values[k].size() < value_keep)
            r.values[k] += static_cast<char>(c);
        else
            r.cut[k] = true;
    }

    // One value, up to the comma or line end after it, which is left to be
    // read; false when it is bad.
    bool value(csv_row& r, std::size_t k)
    {
        if (in.peek() == '"') {
            in.get();
            for (int c; (c = in.get()) != '"' || in.peek() == '"';) {
                if (c == EOF)
                    return !(bad = true); // never closed
                if (c == '"')
                    in.get();
                add(r, k, c);
            }
            int c = in.peek();
            if (c == '\r') {
                in.get();
                return in.peek() == '\n' || !(bad = true);
            }
            return c == ',' || c == '\n' || c == EOF || !(bad = true);
        }
        for (int c; (c = in.peek()) != ',' && c != '\n' && c != EOF;) {
            in.get();
            if (c == '"')
                return !(bad = true);
            if (c == '\r' && in.peek() == '\n')
                return true;
            add(r, k, c);
        }
        return true;
    }
};

// A refusal of the given fault, of column field.
csv_refusal refused(csv_fault f, int field = 0)
{
    csv_refusal r;
    r.fault = f;
    r.field = field;
    return r;
}

const std::size_t caps[8] = {ID_CAP, NAME_CAP, 0, SEX_CAP, BIRTH_CAP, ADDRESS_CAP, PHONE_CAP, EMAIL_CAP};

// Checks one text value (the export's apostrophe already taken off); cut
// when only its start was kept.
csv_fault check_text(const std::string& v, bool cut, std::size_t cap)
{
    if (v.empty())
        return csv_fault::empty;
    for (char c : v)
        if (space(c))
            return csv_fault::blank;
    for (char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return csv_fault::control;
    if (cut)
        return csv_fault::too_long;
    // A pair shaped like GBK that is no character has no Unicode form: a
    // value holding one could not be exported again.
    std::string u;
    if (!gbk_text(v.data(), v.size()) || !gbk_to_utf8(v, u))
        return csv_fault::not_gbk;
    return v.size() > cap ? csv_fault::too_long : csv_fault::none;
}

// Checks one row, its values taken by order, and fills r from it.
csv_refusal check_row(csv_row& row, const int (&order)[8], student& r)
{
    if (row.count != 8) {
        csv_refusal r = refused(csv_fault::fields);
        r.count = row.count;
        return r;
    }
    char* texts[] = {r.id, r.name, nullptr, r.sex, r.birth, r.address, r.phone, r.email};
    r = student{};
    for (int c = 0; c < 8; ++c) {
        std::string& v = row.values[order[c]];
        bool cut = row.cut[order[c]];
        if (!texts[c]) {
            if (cut || !parse_int(v, r.age))
                return refused(csv_fault::age, c);
            continue;
        }
        if (v.size() > 1 && v[0] == '\'' && guarded(v))
            v.erase(0, 1);
        if (csv_fault f = check_text(v, cut, caps[c]); f != csv_fault::none) {
            csv_refusal r = refused(f, c);
            r.cap = caps[c];
            return r;
        }
        std::memcpy(texts[c], v.data(), v.size());
    }
    return {};
}

// A header cell as a message shows it.
std::string shown_cell(std::string v)
{
    for (char& c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return v;
}

// Whether the row names columns: one of its cells does.
bool header(const csv_row& row)
{
    for (std::size_t k = 0; k < kept(row); ++k)
        if (csv_column(row.values[k]) >= 0)
            return true;
    return false;
}

// Reads the header into order (the cell each column is in).
csv_refusal columns(const csv_row& row, int (&order)[8])
{
    std::fill(order, order + 8, -1);
    for (std::size_t k = 0; k < kept(row); ++k) {
        int c = row.cut[k] ? -1 : csv_column(row.values[k]);
        if (c < 0 && folded(row.values[k]).empty())
            return refused(csv_fault::column_unnamed, static_cast<int>(k));
        if (c < 0 || order[c] >= 0) {
            csv_refusal r = refused(c < 0 ? csv_fault::column_unknown : csv_fault::column_twice);
            r.name = shown_cell(row.values[k]);
            return r;
        }
        order[c] = static_cast<int>(k);
    }
    for (int c = 0; c < 8; ++c)
        if (order[c] < 0)
            return refused(csv_fault::column_missing, c);
    return {};
}

// Reads in's rows into the slots after the records in use.
csv_refusal read_rows(csv_reader& in, int& count)
{
    std::unordered_set<std::string> taken;
    for (int k = 0; k < n; ++k)
        taken.insert(stu[k].id);
    int order[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    bool first = true;
    csv_row values;
    count = 0;
    for (long long row = 1; in.row(values); ++row) {
        csv_refusal r;
        if (in.bad)
            r = refused(csv_fault::quote);
        else if (!values.filled)
            continue;
        else if (std::exchange(first, false) && header(values)) {
            if (r = columns(values, order); r.fault == csv_fault::none)
                continue;
        } else if (n + count == STUDENT_CAPACITY)
            r = refused(csv_fault::too_many);
        else if (r = check_row(values, order, stu[n + count]); r.fault == csv_fault::none) {
            if (taken.insert(stu[n + count].id).second) {
                ++count;
                continue;
            }
            r = refused(csv_fault::taken);
        }
        r.row = row;
        return r;
    }
    return {};
}

csv_refusal import_as(std::FILE* f, bool utf8, bool& strict, int& count)
{
    csv_reader rows;
    rows.in.file.f = f;
    rows.in.file.utf8 = utf8;
    csv_refusal r = read_rows(rows, count);
    strict = rows.in.file.strict;
    if (std::ferror(f))
        return refused(csv_fault::unreadable);
    return r;
}

} // namespace

csv_refusal import_csv(std::FILE* f, int& added)
{
    text_encoding enc;
    if (!sniff_file(f, enc))
        return refused(csv_fault::unreadable);
    bool strict = true;
    int count = 0;
    csv_refusal r = import_as(f, enc != text_encoding::gbk, strict, count);
    // As for a register: a file that began as UTF-8 but is not all strict
    // UTF-8 is GBK, and so is one that is both whose UTF-8 reading holds a
    // character GBK has no room for, unless it holds a character of three
    // bytes or more, as Chinese in UTF-8 does.
    if (enc == text_encoding::utf8 && (!strict || (r.fault == csv_fault::not_gbk && !deep_utf8_file(f))) &&
        gbk_file(f))
        r = import_as(f, false, strict, count);
    if (r.fault != csv_fault::none)
        return r;
    n += count;
    added = count;
    if (count > 0) {
        dirty = true;
        sort();
    }
    return {};
}
