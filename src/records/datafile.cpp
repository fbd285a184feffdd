#include "records/datafile.h"

#include "records/encoding.h"
#include "records/fields.h"
#include "records/reader.h"
#include "records/table.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

namespace {

// The register, as the operator named it, and the encoding it was last
// loaded in, which a save keeps.
std::string file_name = "student.txt";
text_encoding file_encoding = text_encoding::gbk;
bool file_crlf = false; // its lines ended in CR LF

// The file as this program last loaded or saved it; a save over anything
// else keeps a backup first.
std::optional<file_stamp> known;

// Why the last load refused a record of a UTF-8 register, where it was a
// character GBK cannot hold.
struct {
    int field = -1;
    std::string ch;
} unheld;

// Whether the first line of f ends in CR LF; f is back at its start after.
bool crlf_lines(std::FILE* f)
{
    std::rewind(f);
    char buf[1 << 12];
    std::size_t got = std::fread(buf, 1, sizeof buf, f);
    std::rewind(f);
    const char* lf = static_cast<const char*>(std::memchr(buf, '\n', got));
    return lf && lf > buf && lf[-1] == '\r';
}

} // namespace

bool unheld_character(int& field, std::string& ch)
{
    field = unheld.field;
    ch = unheld.ch;
    return !ch.empty();
}

load_status load_file(int& bad)
{
    std::FILE* f = nullptr;
    file_stamp stamp;
    known.reset(); // unless it loads, the table matches no file
    switch (file_open(file_name.c_str(), f, stamp)) {
    case open_status::missing: return load_status::missing;
    case open_status::failed: return load_status::unreadable;
    case open_status::ok: break;
    }
    int count = 0;
    text_encoding enc;
    bool strict = true;
    load_status st = sniff_file(f, enc) ? load_as(f, count, bad, enc, strict) : load_status::unreadable;
    // A file that began as UTF-8 but is not all strict UTF-8 is GBK; so is
    // one that is both ("女" alone is) whose UTF-8 reading does not load.
    // The mark too may be GBK's: a GBK register whose first value starts
    // with the bytes EF BB BF is saved so, and must load back the same.
    // Not so a file with a character of three bytes or more: GBK text is
    // almost never strict UTF-8 with one of those, so what GBK cannot hold
    // there refuses the record, by name.
    if (enc != text_encoding::gbk &&
        (!strict || (st == load_status::bad_record && gbk_file(f) && !deep_utf8_file(f)))) {
        std::rewind(f);
        enc = text_encoding::gbk;
        st = load_as(f, count, bad, enc, strict);
    }
    unheld = {};
    if (enc != text_encoding::gbk && st == load_status::bad_record)
        find_unheld(f, enc == text_encoding::utf8_bom, bad, unheld.field, unheld.ch);
    bool crlf = st == load_status::ok && crlf_lines(f);
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (!closed && st == load_status::ok) {
        undo_load(count);
        st = load_status::close_failed;
    }
    if (st == load_status::ok) {
        n = count;
        dirty = false;
        known = stamp;
        file_encoding = enc;
        file_crlf = crlf;
    }
    return st;
}

void use_file(std::string_view path)
{
    file_name = path;
    known.reset();
    file_encoding = text_encoding::gbk;
    file_crlf = false;
}

const std::string& file_path()
{
    return file_name;
}

namespace {

// Lines end as the platform's text files do, or in CR LF as they came. A
// register that came in UTF-8 goes back in UTF-8, with its mark if it had
// one, so the editor it came from still reads it. A value with a byte that
// has no Unicode form (typed where GB18030 is missing) would not load
// again, so it fails the write and the register stays as it was.
bool write_records(std::FILE* f, const char* eol)
{
    std::string text(file_encoding == text_encoding::utf8_bom ? utf8_mark : "");
    for (int k = 0; k < n; ++k) {
        if (fault(save_step::write))
            return false;
        std::string line;
        for (int c = 0; c < field_count; ++c)
            line += (c ? " " : "") + value_text(stu[k], fields[c]);
        line += eol;
        if (file_encoding == text_encoding::gbk)
            text += line;
        else if (!gbk_to_utf8(line, text))
            return false;
    }
    return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// A recovery file's lines end as the platform's text files do.
bool write_lf(std::FILE* f)
{
    return write_records(f, "\n");
}

} // namespace

replace_result save_file(bool fresh)
{
    // A register that came with CR LF goes back so on every platform.
    replace_plan plan{.path = file_name.c_str(), .guard = true, .known = known ? &*known : nullptr,
                      .bytes = file_crlf, .fresh = fresh};
    file_stamp now;
    replace_result r = file_replace(plan, [](std::FILE* f) { return write_records(f, file_crlf ? "\r\n" : "\n"); }, now);
    if (r.status == replace_status::ok || r.status == replace_status::backed_up) {
        known = now;
        dirty = false;
    }
    return r;
}

namespace {

// The table as it was last kept apart, and where: the same work is not
// kept twice (a load that fails again and again over the same changes).
std::uint64_t kept_print = 0;
std::string kept_name;

std::uint64_t fingerprint()
{
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    auto mix = [&h](const void* p, std::size_t len) {
        for (std::size_t k = 0; k < len; ++k) {
            h ^= static_cast<const unsigned char*>(p)[k];
            h *= 1099511628211ull;
        }
    };
    mix(&n, sizeof n);
    for (int k = 0; k < n; ++k)
        for (const field_info& f : fields) {
            const char* p = text_of(stu[k], f);
            mix(p, f.number ? sizeof(std::int32_t) : std::strlen(p) + 1);
        }
    return h;
}

// The recovery files' series beside the register: its name without the
// ending and with ".unsaved", cut short where it is near the longest a
// folder takes, so the work is never lost for want of a name; ext is the
// register's own ending, or .txt where that leaves too little room.
std::string unsaved_stem(std::string& ext)
{
    const std::string mark = ".unsaved";
    // The register's own ending, from the last dot of its name ("class2.txt":
    // ".txt"); a leading dot starts none.
    std::size_t dot = file_name.rfind('.');
    ext = dot != std::string::npos && dot > name_start(file_name) ? file_name.substr(dot) : "";
    std::string stem = file_name.substr(0, file_name.size() - ext.size());
    // 5: "." and a number up to series_cap; 16: room for the name's start.
    if (mark.size() + 5 + ext.size() + 16 > name_cap)
        ext = ".txt";
    return room_for(stem, mark.size() + 5 + ext.size()) + mark;
}

// A register in a folder that takes no new file (the file is writable, the
// folder is not) still keeps its work: in the operator's home folder, under
// the same kind of name.
bool keep_at_home(const std::string& stem, const std::string& ext, std::string& name)
{
    std::string home = home_folder();
    if (home.empty())
        return false;
    if (!separator(home.back()))
        home += '/';
    return file_keep(home + stem.substr(name_start(stem)), ext.c_str(), file_name.c_str(), write_lf, name);
}

} // namespace

bool save_unsaved(std::string& name)
{
    std::uint64_t print = fingerprint();
    std::FILE* f = nullptr;
    file_stamp stamp;
    if (!kept_name.empty() && print == kept_print &&
        file_open(kept_name.c_str(), f, stamp) == open_status::ok) {
        std::fclose(f);
        name = kept_name;
        return true;
    }
    // A file of its own each time, beside the register: never one that an
    // earlier session kept, and never a link planted under the name.
    std::string ext;
    std::string stem = unsaved_stem(ext);
    if (!file_keep(stem, ext.c_str(), file_name.c_str(), write_lf, name) && !keep_at_home(stem, ext, name))
        return false;
    kept_print = print;
    kept_name = name;
    return true;
}
