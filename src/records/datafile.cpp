#include "records/datafile.h"

#include "console/console.h"
#include "console/terminal.h"
#include "records/number.h"
#include "records/table.h"

#include <algorithm>
#include <cstring>
#include <string_view>

bool (*save_fault)(save_step);
bool save_sync = true;

namespace {

const char* const file_name = "student.txt";
const char* const temp_name = "student.txt.tmp";

// The records in use that a load has overwritten so far, put back when
// the file turns out bad. Only slots below n are kept: the rest are outside
// the register, so a first load needs no room here at all.
student kept[STUDENT_CAPACITY];

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Splits a file into white-space separated tokens in one pass, reading it
// in large blocks, with no allocation per token.
struct scanner {
    std::FILE* f = nullptr;
    char buf[1 << 14];
    std::size_t pos = 0;
    std::size_t len = 0;
    bool huge = false; // the last token did not fit the buffer

    // Keeps bytes from start on and reads more behind them.
    bool refill(std::size_t start)
    {
        std::memmove(buf, buf + start, len - start);
        len -= start;
        pos -= start;
        std::size_t got = std::fread(buf + len, 1, sizeof buf - len, f);
        len += got;
        return got > 0;
    }

    // The next token; empty at the end of the file, on a read error, or
    // when the token is longer than the whole buffer (then huge is set).
    std::string_view next()
    {
        huge = false;
        for (;;) {
            while (pos < len && blank(buf[pos]))
                ++pos;
            if (pos < len)
                break;
            if (!refill(len))
                return {};
        }
        std::size_t start = pos;
        for (;;) {
            while (pos < len && !blank(buf[pos]))
                ++pos;
            if (pos < len)
                break;
            if (start == 0 && len == sizeof buf)
                return skip_huge();
            bool got = refill(start); // the token now starts the buffer
            start = 0;
            if (!got)
                break;
        }
        return {buf + start, pos - start};
    }

    // Passes over the rest of a token that fits no field.
    std::string_view skip_huge()
    {
        huge = true;
        while (refill(len)) {
            while (pos < len && !blank(buf[pos]))
                ++pos;
            if (pos < len)
                break;
        }
        return {};
    }
};

template <std::size_t N>
bool text(scanner& s, char (&field)[N])
{
    std::string_view t = s.next();
    // A NUL byte would cut the value short when it is stored and shift the
    // fields of the next save, so a token holding one is refused.
    if (s.huge || t.empty() || t.size() >= N || t.find('\0') != t.npos)
        return false;
    put(field, t);
    return true;
}

// Fills r from the tokens after its id; false if any is missing or bad.
bool rest(scanner& s, student& r)
{
    if (!text(s, r.name))
        return false;
    std::string_view age = s.next();
    if (s.huge || !parse_int(age, r.age))
        return false;
    return text(s, r.sex) && text(s, r.birth) && text(s, r.address) &&
           text(s, r.phone) && text(s, r.email);
}

load_status read_records(scanner& s, int& count, int& bad)
{
    for (;;) {
        std::string_view id = s.next();
        if (std::ferror(s.f))
            return load_status::read_error;
        if (id.empty() && !s.huge)
            return load_status::ok;
        if (count == STUDENT_CAPACITY)
            return load_status::too_many;
        if (count < n)
            kept[count] = stu[count];
        student& r = stu[count++];
        r = student{};
        // The id is stored before reading on: the next reads reuse its bytes.
        bool good = !s.huge && id.size() <= ID_CAP && id.find('\0') == id.npos;
        if (good) {
            put(r.id, id);
            good = rest(s, r);
        }
        if (std::ferror(s.f))
            return load_status::read_error;
        if (!good) {
            bad = count;
            return load_status::bad_record;
        }
    }
}

} // namespace

load_status load(std::FILE* f, int& count, int& bad)
{
    scanner s;
    s.f = f;
    count = 0;
    load_status st = read_records(s, count, bad);
    if (st != load_status::ok)
        std::copy(kept, kept + std::min(count, n), stu);
    return st;
}

void refresh()
{
    std::FILE* f = std::fopen(file_name, "r");
    if (!f) {
        line("未找到该文件 请先创立该文件并将学生信息保存");
        return;
    }
    int count = 0;
    int bad = 0;
    load_status st = load(f, count, bad);
    if (std::fclose(f) != 0) {
        prompt("cannot close the file");
        throw leave{};
    }
    switch (st) {
    case load_status::ok:
        n = count;
        line("刷新完成");
        break;
    case load_status::bad_record:
        say("文件第%d条记录格式错误,未刷新\n", bad);
        break;
    case load_status::too_many:
        line("文件中的记录超过1000条,未刷新");
        break;
    case load_status::read_error:
        line("读取文件出错,未刷新");
        break;
    }
}

namespace {

bool fault(save_step step)
{
    return save_fault && save_fault(step);
}

bool write_records(std::FILE* f)
{
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        if (fault(save_step::write) ||
            std::fprintf(f, "%s %s %d %s %s %s %s %s\n", r.id, r.name, r.age, r.sex,
                         r.birth, r.address, r.phone, r.email) < 0)
            return false;
    }
    return true;
}

// Writes the whole table to path and makes sure it reached the disk.
bool write_file(const char* path)
{
    if (fault(save_step::create))
        return false;
    std::FILE* f = std::fopen(path, "w");
    if (!f)
        return false;
    bool ok = write_records(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    ok = ok && !fault(save_step::sync) && (!save_sync || term_sync(f));
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    return ok && closed;
}

} // namespace

void save()
{
    // The register is written beside the old file and then renamed over
    // it, so a crash or a full disk can never leave it torn or empty.
    if (write_file(temp_name) && !fault(save_step::rename) && term_replace(temp_name, file_name))
        return;
    std::remove(temp_name);
    line("保存失败,student.txt未改变");
}
