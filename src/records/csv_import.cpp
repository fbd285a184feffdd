// Importing a CSV file: its bytes split into rows, its header read, and
// every row checked before any is added.
#include "records/csv.h"

#include "records/encoding.h"
#include "records/fields.h"
#include "records/table.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <unordered_set>
#include <utility>

namespace {

// The first bytes of a value that are kept: more than any field holds
// and any column's name is long, so a longer value is refused all the same.
constexpr std::size_t value_keep = 64;
// The values of a row that are kept: one more than a student has, so an
// extra cell of a header can be named.
constexpr std::size_t values_keep = field_count + 1;

// One row as read: its first values, each cut to value_keep bytes.
struct csv_row {
    std::string values[values_keep];
    bool cut[values_keep] = {};
    long long count = 0; // values in the row, kept or not
    bool filled = false; // some value holds more than white space

    // How many of its values are kept.
    std::size_t kept() const { return static_cast<std::size_t>(std::min<long long>(count, values_keep)); }
};

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
            std::size_t k = r.kept();
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
            if (c != ',')
                return bad = true;
        }
    }

    void add(csv_row& r, std::size_t k, int c)
    {
        r.filled = r.filled || !blank(static_cast<char>(c));
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

// Checks one row, its values taken by order, and fills r from it.
csv_refusal check_row(csv_row& row, const int (&order)[field_count], student& r)
{
    if (row.count != field_count)
        return {.fault = csv_fault::fields, .count = row.count};
    r = student{};
    for (int c = 0; c < field_count; ++c) {
        std::string& v = row.values[order[c]];
        if (!fields[c].number && v.size() > 1 && v[0] == '\'' && guarded(v))
            v.erase(0, 1);
        if (value_fault why = store(r, fields[c], v, row.cut[order[c]]); why != value_fault::none)
            return {.fault = csv_fault::value, .field = c, .value = why};
    }
    return {};
}

// A header cell as a message shows it.
std::string shown_cell(std::string v)
{
    for (char& c : v)
        if (control(c))
            c = '?';
    return v;
}

// Whether the row names columns: one of its cells does.
bool header(const csv_row& row)
{
    return std::any_of(row.values, row.values + row.kept(),
                       [](const std::string& v) { return csv_column(v) >= 0; });
}

// Reads the header into order (the cell each column is in).
csv_refusal columns(const csv_row& row, int (&order)[field_count])
{
    std::fill(order, order + field_count, -1);
    for (std::size_t k = 0; k < row.kept(); ++k) {
        int c = row.cut[k] ? -1 : csv_column(row.values[k]);
        if (c < 0 && folded(row.values[k]).empty())
            return {.fault = csv_fault::column_unnamed, .field = static_cast<int>(k)};
        if (c < 0 || order[c] >= 0)
            return {.fault = c < 0 ? csv_fault::column_unknown : csv_fault::column_twice,
                    .name = shown_cell(row.values[k])};
        order[c] = static_cast<int>(k);
    }
    for (int c = 0; c < field_count; ++c)
        if (order[c] < 0)
            return {.fault = csv_fault::column_missing, .field = c};
    return {};
}

// Reads in's rows into the slots after the records in use.
csv_refusal read_rows(csv_reader& in, int& count)
{
    std::unordered_set<std::string> taken;
    for (int k = 0; k < n; ++k)
        taken.insert(stu[k].id);
    int order[field_count];
    std::iota(order, order + field_count, 0);
    bool first = true;
    csv_row values;
    count = 0;
    for (long long row = 1; in.row(values); ++row) {
        csv_refusal r;
        if (in.bad)
            r.fault = csv_fault::quote;
        else if (!values.filled)
            continue;
        else if (std::exchange(first, false) && header(values)) {
            if (r = columns(values, order); r.fault == csv_fault::none)
                continue;
        } else if (n + count == STUDENT_CAPACITY)
            r.fault = csv_fault::too_many;
        else if (r = check_row(values, order, stu[n + count]); r.fault == csv_fault::none) {
            if (taken.insert(stu[n + count].id).second) {
                ++count;
                continue;
            }
            r = {.fault = csv_fault::taken};
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
        return {.fault = csv_fault::unreadable};
    return r;
}

} // namespace

csv_refusal import_csv(std::FILE* f, int& added)
{
    text_encoding enc;
    if (!sniff_file(f, enc))
        return {.fault = csv_fault::unreadable};
    bool strict = true;
    int count = 0;
    csv_refusal r = import_as(f, enc != text_encoding::gbk, strict, count);
    // As for a register: a file that began as UTF-8 but is not all strict
    // UTF-8 is GBK, and so is one that is both whose UTF-8 reading holds a
    // character GBK has no room for, unless it holds a character of three
    // bytes or more, as Chinese in UTF-8 does.
    if (enc == text_encoding::utf8 && (!strict || (r.value == value_fault::not_gbk && !deep_utf8_file(f))) &&
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
