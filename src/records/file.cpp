// The file layer's part common to both platforms: the save itself (its
// steps, its series of names, its turn and its one budget of waiting), and
// the hooks, the seams for tests and benchmarks and the console's way to
// end a save's wait.
#include "records/file.h"
#include "records/file_sys.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

bool (*save_fault)(save_step);
bool (*save_give_up)();
bool save_sync = true;

bool fault(save_step step)
{
    return save_fault && save_fault(step);
}

std::size_t name_start(const std::string& path)
{
    std::size_t start = path.size();
    while (start > 0 && !separator(path[start - 1]))
        --start;
    return start;
}

std::string room_for(const std::string& path, std::size_t more)
{
    std::size_t start = name_start(path);
    if (path.size() - start + more <= name_cap || more >= name_cap)
        return path;
    // Never half a character: the name may be shown to the operator.
    std::size_t end = start + name_cap - more;
    while (end > start && (static_cast<unsigned char>(path[end]) & 0xC0) == 0x80)
        --end;
    return end > start ? path.substr(0, end) : path;
}

bool wait_more(wait_budget& w)
{
    if (save_give_up && save_give_up()) {
        w.why = replace_status::stopped;
        return false;
    }
    long long now = sys_ms();
    if (now >= w.end)
        return false;
    sys_pause(static_cast<long>(std::min<long long>(w.end - now, w.step)));
    w.step = w.step < 64 ? w.step * 2 : 100;
    return true;
}

std::string backup_stem(const char* path)
{
    return room_for(path, std::strlen(".9999.bak"));
}

bool claim_series(const std::string& stem, const char* ext, bool any,
                  const std::function<bool(const std::string&)>& take, std::string& name)
{
    for (int k = 1; k <= series_cap; ++k) {
        name = numbered(stem, ext, k);
        if (take(name))
            return true;
        if (!sys_taken(name, any))
            return false;
    }
    return false;
}

bool write_new(const std::string& base, const sys_file& like, const writer& write, bool bytes,
               bool owner_rw, std::string& temp, file_stamp& stamp)
{
    std::FILE* f = sys_new_file(base, bytes, temp);
    if (!f)
        return false;
    errno = 0; // what the write fails for, if the system says
    bool ok = write(f);
    ok = ok && !fault(save_step::flush) && std::fflush(f) == 0 && !std::ferror(f);
    if (ok)
        sys_access(f, like, owner_rw);
    ok = ok && !fault(save_step::sync) && (!save_sync || sys_sync(f));
    ok = ok && sys_stamp(f, stamp);
    bool closed = std::fclose(f) == 0 && !fault(save_step::close);
    if (ok && closed)
        return true;
    file_remove(temp);
    return false;
}

namespace {

// A request to end that came while the new file was written still finds
// the old one in place: it is honoured with nothing changed.
bool stopped(const std::string& temp, const std::string& kept, replace_result& r)
{
    if (!save_give_up || !save_give_up())
        return false;
    file_remove(temp);
    if (!kept.empty())
        file_remove(kept);
    r.status = replace_status::stopped;
    return true;
}

// One attempt at a replace, all of it inside the turn; true to try again
// from the start.
bool replace_at(const replace_plan& plan, const writer& write, wait_budget& w, replace_result& r,
                file_stamp& now)
{
    sys_file f;
    if (!sys_look(plan.path, f, r))
        return false;
    switch (sys_turn(f, w, r.status)) {
    case turn_status::moved: return true;
    case turn_status::refused: return false;
    case turn_status::mine: break;
    }
    if (plan.fresh && f.exists) {
        r.status = replace_status::appeared;
        return false;
    }
    bool due = f.exists && plan.guard && !(plan.known && *plan.known == f.stamp);
    std::string temp, kept;
    file_stamp mine;
    if (!write_new(f.target, f, write, plan.bytes, false, temp, mine)) {
        r.cause = sys_cause(file_cause::folder_denied);
        return false;
    }
    if (f.exists && !sys_set_aside(f, plan.path, due, kept, r)) {
        file_remove(temp);
        return false;
    }
    return !stopped(temp, kept, r) && sys_put(f, temp, kept, due, w, r, mine, now);
}

} // namespace

sys_file held;

replace_status file_hold(const char* path)
{
    file_release();
    wait_budget w;
    for (;;) {
        sys_file f;
        replace_status why = replace_status::failed;
        if (!sys_find(path, f))
            return why;
        switch (sys_turn(f, w, why)) {
        case turn_status::refused: return why;
        case turn_status::moved: break;
        case turn_status::mine:
            if (f.exists && !f.locked)
                return replace_status::failed;
            if (f.exists)
                held = std::move(f);
            return replace_status::ok;
        }
        // A save that ended while this one waited leaves the turn on a file
        // the name no longer leads to: it is taken again on the new one.
        if (sys_ms() >= w.end)
            return replace_status::busy;
    }
}

void file_release()
{
    held = {};
}

replace_result file_replace(const replace_plan& plan, const writer& write, file_stamp& now)
{
    // One bound for the whole save, however often the file changes hands
    // while it waits: other programs saving one after another are busy too.
    wait_budget w;
    for (;;) {
        replace_result r;
        if (!replace_at(plan, write, w, r, now))
            return r;
        if (sys_ms() >= w.end)
            return {replace_status::busy, {}};
    }
}

bool file_keep(const std::string& stem, const char* ext, const char* like, const writer& write,
               std::string& name)
{
    sys_file from;
    sys_like(like, from);
    std::string temp;
    file_stamp ignored;
    if (!write_new(stem, from, write, false, true, temp, ignored))
        return false;
    auto take = [&temp](const std::string& to) { return sys_put_new(temp, to); };
    if (fault(save_step::rename) || !claim_series(stem, ext, true, take, name)) {
        file_remove(temp);
        return false;
    }
    if (save_sync)
        sys_sync_folder(name);
    return true;
}
