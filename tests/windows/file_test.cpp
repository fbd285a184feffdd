// The Windows file layer, run under wine: every failure path of a replace,
// other programs holding the register, the backup and recovery series, and
// reading a register as bytes. The same program is the other program the
// cases start: "hold" keeps the register open the way a spreadsheet or
// another copy of this program does, "save" saves again and again.
#include "records/datafile.h"
#include "records/file.h"
#include "records/file_win32.h"
#include "records/table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <windows.h>

namespace {

int failed_checks;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        ++failed_checks;
        std::printf("    not so: %s\n", what.c_str());
    }
}

std::string slurp(const std::string& name)
{
    std::string s;
    if (std::FILE* f = std::fopen(name.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            s += static_cast<char>(c);
        std::fclose(f);
    }
    return s;
}

void put(const std::string& name, const std::string& bytes)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

std::vector<std::string> names()
{
    std::vector<std::string> v;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA("*", &d);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &d))
        if (std::strcmp(d.cFileName, ".") != 0 && std::strcmp(d.cFileName, ".."))
            v.push_back(d.cFileName);
    FindClose(h);
    std::sort(v.begin(), v.end());
    return v;
}

std::string joined(const std::vector<std::string>& v)
{
    std::string s;
    for (const std::string& x : v)
        s += x + " ";
    return s;
}

file_stamp saved_now; // what the last save took as its own

replace_result save(const std::string& text, const file_stamp* known = nullptr, bool guard = true)
{
    replace_plan plan{};
    plan.path = "student.txt";
    plan.guard = guard;
    plan.known = known;
    return file_replace(plan, [&](std::FILE* f) {
        return !fault(save_step::write) && std::fputs(text.c_str(), f) >= 0;
    }, saved_now);
}

// ---- other programs ----------------------------------------------------

struct child {
    HANDLE proc = nullptr;
    HANDLE in = nullptr;  // closing it tells the child to finish
    HANDLE out = nullptr;
};

child start(const std::string& args)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE in_r, out_w;
    child c;
    CreatePipe(&in_r, &c.in, &sa, 0);
    CreatePipe(&c.out, &out_w, &sa, 0);
    SetHandleInformation(c.in, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(c.out, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_r;
    si.hStdOutput = out_w;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = "\"" + std::string(self) + "\" " + args;
    PROCESS_INFORMATION pi{};
    CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(in_r);
    CloseHandle(out_w);
    CloseHandle(pi.hThread);
    c.proc = pi.hProcess;
    return c;
}

// One line the child wrote, without its end (CR LF); empty once it has
// ended.
std::string line_from(HANDLE h)
{
    std::string s;
    char c;
    DWORD got;
    while (ReadFile(h, &c, 1, &got, nullptr) && got == 1 && c != '\n')
        if (c != '\r')
            s += c;
    return s;
}

void finish(child& c)
{
    CloseHandle(c.in);
    while (!line_from(c.out).empty()) {
    }
    WaitForSingleObject(c.proc, 30000);
    CloseHandle(c.out);
    CloseHandle(c.proc);
}

// Holds student.txt until its input ends: "lock" takes the turn a saving
// copy of this program takes (the byte far past the end), "deny" keeps the
// file open for reading and writing, shared for reading only.
int hold(const char* how)
{
    bool lock = std::strcmp(how, "lock") == 0;
    HANDLE h = CreateFileA("student.txt", GENERIC_READ | GENERIC_WRITE,
                           lock ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    OVERLAPPED at{};
    at.OffsetHigh = 0x7fffffff;
    if (h == INVALID_HANDLE_VALUE || (lock && !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    DWORD got;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1) {
    }
    CloseHandle(h);
    return 0;
}

// Takes the turn file_hold gives and keeps it until its input ends.
int hold_turn()
{
    std::printf("%d\n", static_cast<int>(file_hold("student.txt")));
    std::fflush(stdout);
    char c;
    DWORD got;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &c, 1, &got, nullptr) && got == 1) {
    }
    file_release();
    return 0;
}

// Waits for "go", then saves tag1, tag2, ... over whatever is there,
// printing each save's status.
int save_often(const std::string& tag, int count)
{
    std::printf("ready\n");
    std::fflush(stdout);
    line_from(GetStdHandle(STD_INPUT_HANDLE));
    file_stamp last;
    bool have = false;
    for (int k = 1; k <= count; ++k) {
        replace_plan plan{};
        plan.path = "student.txt";
        plan.guard = true;
        plan.known = have ? &last : nullptr;
        std::string text = tag + std::to_string(k);
        replace_result r = file_replace(plan, [&](std::FILE* f) { return std::fputs(text.c_str(), f) >= 0; }, last);
        have = r.status == replace_status::ok || r.status == replace_status::backed_up;
        std::printf("%d\n", static_cast<int>(r.status));
    }
    std::fflush(stdout);
    return 0;
}

// ---- the cases ---------------------------------------------------------

// Steps broken by the fault hook in the case running now.
std::vector<save_step> broken;
int reached;

bool break_listed(save_step s)
{
    bool hit = std::find(broken.begin(), broken.end(), s) != broken.end();
    reached += hit;
    return hit;
}

struct fault_row {
    std::vector<save_step> steps;
    bool guard;
    replace_status want;
    const char* left_under; // where the register is afterwards
};

const fault_row fault_rows[] = {
    {{save_step::create}, true, replace_status::failed, "student.txt"},
    {{save_step::write}, true, replace_status::failed, "student.txt"},
    {{save_step::flush}, true, replace_status::failed, "student.txt"},
    {{save_step::sync}, true, replace_status::failed, "student.txt"},
    {{save_step::close}, true, replace_status::failed, "student.txt"},
    {{save_step::lock}, true, replace_status::failed, "student.txt"},
    {{save_step::backup}, true, replace_status::no_backup, "student.txt"},
    {{save_step::rename}, true, replace_status::failed, "student.txt"},
    {{save_step::rename}, false, replace_status::failed, "student.txt"},
    {{save_step::halfway}, true, replace_status::failed, "student.txt"},
    {{save_step::halfway}, false, replace_status::failed, "student.txt"},
    {{save_step::halfway, save_step::restore}, true, replace_status::failed, "student.txt.2.bak"},
};

// The register is always on disk: back under its name, or under the name
// the result gives; an older backup is untouched and nothing else is left.
void each_failure_keeps_the_register()
{
    for (const fault_row& row : fault_rows) {
        std::string tag = "row " + std::to_string(&row - fault_rows) + ": ";
        put("student.txt", "old");
        put("student.txt.bak", "older");
        broken = row.steps;
        reached = 0;
        save_fault = break_listed;
        replace_result r = save("new", nullptr, row.guard);
        save_fault = nullptr;
        check(reached > 0, tag + "the step was not reached");
        check(r.status == row.want, tag + "status " + std::to_string(static_cast<int>(r.status)));
        bool moved = std::strcmp(row.left_under, "student.txt") != 0;
        check(r.backup == (moved || row.want == replace_status::no_backup ? "student.txt.2.bak" : ""),
              tag + "reported " + r.backup);
        check(slurp(row.left_under) == "old", tag + "the register is not under " + row.left_under);
        check(slurp("student.txt.bak") == "older", tag + "the older backup changed");
        std::vector<std::string> want = {"student.txt", "student.txt.bak"};
        if (moved)
            want = {"student.txt.2.bak", "student.txt.bak"};
        check(names() == want, tag + "left " + joined(names()));
        DeleteFileA("student.txt.2.bak");
    }
}

// Every save over a register this program did not write keeps the one it
// replaces under the next name of the series; a save over its own does not.
void unseen_registers_keep_every_version()
{
    put("student.txt", "v0");
    for (int k = 1; k <= 3; ++k) {
        replace_result r = save("v" + std::to_string(k));
        check(r.status == replace_status::backed_up, "save " + std::to_string(k) + " kept no backup");
        check(r.backup == numbered("student.txt", ".bak", k), "backup named " + r.backup);
    }
    file_stamp known;
    std::FILE* f;
    check(file_open("student.txt", f, known) == open_status::ok, "the register does not open");
    std::fclose(f);
    check(save("v4", &known).status == replace_status::ok, "a save over its own file kept a backup");
    check(slurp("student.txt") == "v4", "the register is not the last save");
    for (int k = 1; k <= 3; ++k)
        check(slurp(numbered("student.txt", ".bak", k)) == "v" + std::to_string(k - 1), "version lost");
    check(names().size() == 4, "left " + joined(names()));
}

void a_folder_at_the_backup_name_stops_the_save()
{
    put("student.txt", "old");
    CreateDirectoryA("student.txt.bak", nullptr);
    replace_result r = save("new");
    check(r.status == replace_status::no_backup && r.backup == "student.txt.bak", "not refused");
    check(slurp("student.txt") == "old", "replaced without a backup");
    check(names() == std::vector<std::string>{"student.txt", "student.txt.bak"}, "left " + joined(names()));
    RemoveDirectoryA("student.txt.bak");
}

bool release_first_time(child* c)
{
    static child* holder;
    if (c) {
        holder = c;
        return false;
    }
    if (holder)
        CloseHandle(holder->in); // the holder lets go; the save waits on
    holder = nullptr;
    return false;
}

// Another program holding the register: the save waits its bounded time
// and says why it gave up, or goes on once the other lets go, or stops
// when asked to.
void a_held_register_makes_the_save_wait()
{
    for (const char* how : {"lock", "deny"}) {
        std::string tag = std::string(how) + ": ";
        put("student.txt", "old");
        child c = start(std::string("hold ") + how);
        check(line_from(c.out) == "ready", tag + "the holder did not start");
        ULONGLONG began = GetTickCount64();
        replace_result r = save("new");
        check(r.status == replace_status::busy, tag + "not busy: " + std::to_string(static_cast<int>(r.status)));
        check(GetTickCount64() - began >= 4500, tag + "gave up without waiting");
        save_give_up = [] { return true; };
        check(save("new").status == replace_status::stopped, tag + "the wait did not stop");
        save_give_up = [] { return release_first_time(nullptr); };
        release_first_time(&c);
        r = save("new");
        save_give_up = nullptr;
        check(r.status == replace_status::backed_up, tag + "did not save once let go");
        check(slurp("student.txt") == "new" && slurp("student.txt.bak") == "old", tag + "wrong files");
        c.in = INVALID_HANDLE_VALUE;
        finish(c);
        check(names().size() == 2, tag + "left " + joined(names()));
        DeleteFileA("student.txt.bak");
    }
}

// Two programs saving at once take turns: every save succeeds, and every
// file left is one whole version.
void two_programs_saving_at_once()
{
    put("student.txt", "v0");
    child a = start("save A 25"), b = start("save B 25");
    check(line_from(a.out) == "ready" && line_from(b.out) == "ready", "the savers did not start");
    DWORD put_count;
    WriteFile(a.in, "go\n", 3, &put_count, nullptr);
    WriteFile(b.in, "go\n", 3, &put_count, nullptr);
    int saves = 0, backups = 0;
    for (child* c : {&a, &b})
        for (std::string s; !(s = line_from(c->out)).empty(); ++saves) {
            check(s == "0" || s == "1", "a save ended with status " + s);
            backups += s == "1";
        }
    finish(a);
    finish(b);
    check(saves == 50, "saves reported: " + std::to_string(saves));
    auto whole = [](const std::string& v) {
        return v == "v0" || ((v[0] == 'A' || v[0] == 'B') && std::atoi(v.c_str() + 1) >= 1 &&
                             std::atoi(v.c_str() + 1) <= 25);
    };
    std::vector<std::string> left = names();
    check(static_cast<int>(left.size()) == backups + 1, "left " + joined(left));
    for (const std::string& name : left)
        check(whole(slurp(name)), name + " holds " + slurp(name));
}

// The recovery file never replaces anything: a file or a folder under a
// name moves it on to the next.
void recovery_files_take_the_next_free_name()
{
    CreateDirectoryA("student.unsaved.2.txt", nullptr);
    const char* want[] = {"student.unsaved.txt", "student.unsaved.3.txt"};
    for (int k = 0; k < 2; ++k) {
        std::string name;
        std::string text = "work" + std::to_string(k);
        check(file_keep("student.unsaved", ".txt", "student.txt",
                        [&](std::FILE* f) { return std::fputs(text.c_str(), f) >= 0; }, name),
              "not kept");
        check(name == want[k] && slurp(name) == text, "kept as " + name);
    }
    check(slurp("student.unsaved.txt") == "work0", "an earlier recovery file was replaced");
    RemoveDirectoryA("student.unsaved.2.txt");
}

// Loaded as bytes: a Ctrl-Z inside a field is kept, one at the very end
// of the file is not part of it.
void ctrl_z_is_a_byte_except_at_the_end()
{
    struct row {
        std::string file;
        load_status want;
        const char* name;
    };
    const row rows[] = {
        {"1 a 19 m b c d e\r\n\x1a", load_status::ok, "a"},
        {"1 a 19 m b c d e\x1a", load_status::ok, "a"},
        {"1 a\x1a" "b 19 m b c d e\r\n2 z 20 m b c d e\r\n", load_status::ok, "a\x1a" "b"},
        {"1 a 19 m b c d e\r\n\x1a\x1a", load_status::bad_record, ""},
    };
    for (const row& r : rows) {
        put("student.txt", r.file);
        n = 0;
        int bad = 0;
        load_status st = load_file(bad);
        check(st == r.want, "status " + std::to_string(static_cast<int>(st)) + " for " + r.file);
        check(st != load_status::ok || std::string(stu[0].name) == r.name, "name " + std::string(stu[0].name));
    }
}

// A saver that waits for "go"; started before the case's own save.
child second;

bool go_second()
{
    DWORD put;
    return WriteFile(second.in, "go\n", 3, &put, nullptr);
}

// Inside the first save's turn, with the new file in place, a second
// program starts its save: it waits for the turn, and the first never
// takes the second's file as its own.
void a_save_inside_anothers_turn_waits()
{
    put("student.txt", "v0");
    second = start("save B 1");
    check(line_from(second.out) == "ready", "the second saver did not start");
    turn_widen = [] {
        go_second();
        Sleep(1500);
        check(slurp("student.txt") == "first", "the second save went in inside the first's turn");
    };
    replace_result r = save("first");
    turn_widen = nullptr;
    check(r.status == replace_status::backed_up, "the first save failed");
    check(line_from(second.out) == "1", "the second save did not go in after the turn");
    finish(second);
    check(slurp("student.txt") == "B1", "the second save is not in place");
    file_stamp mine = saved_now;
    r = save("third", &mine);
    check(r.status == replace_status::backed_up, "the second program's save was taken as the first's own");
    check(slurp(r.backup) == "B1", "the second program's save is lost");
}

// Loads while another program saves again and again: each finds a whole
// register, never none (a replace renames in two steps).
void loads_during_saves_find_the_register()
{
    put("student.txt", "A0");
    int loads = 0, missing = 0, broken_reads = 0, versions = 0;
    std::string last;
    // On a busy machine the saver may be done before many loads ran: it
    // saves again, so that enough loads fall within saves to tell.
    for (int round = 0; round < 10 && versions < 5; ++round) {
        second = start("save A 60");
        check(line_from(second.out) == "ready" && go_second(), "the saver did not start");
        while (WaitForSingleObject(second.proc, 0) == WAIT_TIMEOUT) {
            std::FILE* f = nullptr;
            file_stamp st;
            open_status got = file_open("student.txt", f, st);
            missing += got == open_status::missing;
            broken_reads += got == open_status::failed;
            std::string text;
            for (int c; f && (c = std::fgetc(f)) != EOF;)
                text += static_cast<char>(c);
            if (f)
                std::fclose(f);
            broken_reads += got == open_status::ok && (text.size() < 2 || text[0] != 'A');
            versions += got == open_status::ok && text != last;
            last = got == open_status::ok ? text : last;
            ++loads;
        }
        finish(second);
    }
    check(versions >= 5, "too few loads during the saves to tell: " + std::to_string(versions) + " versions seen");
    check(missing == 0, std::to_string(missing) + " of " + std::to_string(loads) + " loads found no register");
    check(broken_reads == 0, std::to_string(broken_reads) + " loads read no whole register");
}

// Halfway through, the old register (empty here, just like the claim made
// for its name) is moved back, or kept and named when it cannot be: never
// removed, whatever the files' identities say.
void a_register_left_halfway_is_never_removed()
{
    for (bool guard : {true, false}) {
        std::string tag = guard ? "backup due: " : "no backup due: ";
        put("student.txt", "");
        broken = {save_step::halfway, save_step::restore};
        save_fault = break_listed;
        replace_result r = save("new", nullptr, guard);
        save_fault = nullptr;
        check(r.status == replace_status::failed && !r.backup.empty(), tag + "the kept name was not given");
        check(GetFileAttributesA(r.backup.c_str()) != INVALID_FILE_ATTRIBUTES, tag + "the register was removed");
        check(names() == std::vector<std::string>{r.backup}, tag + "left " + joined(names()));
        DeleteFileA(r.backup.c_str());
    }
}

// A save cut short leaves the register under a name of its own: a load
// that finds none names the last written of them, and nothing else.
void a_register_left_by_a_save_is_found()
{
    put("student.txt.bak", "a backup");
    put("student.txt.12-34.txt", "not the replace's");
    put("student.txt.1x-34.old", "not the replace's");
    CreateDirectoryA("student.txt.5-6.tmp", nullptr);
    check(file_left_over("student.txt").empty(), "found " + file_left_over("student.txt"));
    put("student.txt", "old");
    broken = {save_step::halfway, save_step::restore};
    save_fault = break_listed;
    replace_result r = save("new", nullptr, false);
    save_fault = nullptr;
    check(!r.backup.empty() && file_left_over("student.txt") == r.backup, "the register moved aside was not found");
    Sleep(50);
    put("student.txt.77-88.tmp", "new");
    check(file_left_over("student.txt") == "student.txt.77-88.tmp", "not the last written");
    RemoveDirectoryA("student.txt.5-6.tmp");
}

int breaks_left, rename_tries;

bool break_renames(save_step s)
{
    if (s != save_step::rename)
        return false;
    ++rename_tries;
    return breaks_left-- > 0;
}

// Refusals a scanner, an indexer or a closing file cause are waited out;
// others fail the save at once, with both names as they were.
void passing_refusals_are_waited_out()
{
    struct row {
        DWORD code;
        replace_status want;
        int tries;
    };
    const row rows[] = {
        {ERROR_UNABLE_TO_REMOVE_REPLACED, replace_status::backed_up, 4},
        {ERROR_UNABLE_TO_MOVE_REPLACEMENT, replace_status::backed_up, 4},
        {ERROR_ACCESS_DENIED, replace_status::backed_up, 4},
        {ERROR_SHARING_VIOLATION, replace_status::backed_up, 4},
        {ERROR_LOCK_VIOLATION, replace_status::backed_up, 4},
        {ERROR_DISK_FULL, replace_status::failed, 1},
    };
    for (const row& w : rows) {
        std::string tag = "error " + std::to_string(w.code) + ": ";
        put("student.txt", "old");
        rename_fault_error = w.code;
        breaks_left = 3;
        rename_tries = 0;
        save_fault = break_renames;
        replace_result r = save("new");
        save_fault = nullptr;
        rename_fault_error = ERROR_WRITE_PROTECT;
        check(r.status == w.want && rename_tries == w.tries,
              tag + "status " + std::to_string(static_cast<int>(r.status)) + " after " +
                  std::to_string(rename_tries) + " tries");
        bool saved = w.want == replace_status::backed_up;
        check(slurp("student.txt") == (saved ? "new" : "old"), tag + "wrong register");
        check(names().size() == (saved ? 2u : 1u), tag + "left " + joined(names()));
        DeleteFileA("student.txt.bak");
    }
}

ULONGLONG give_up_at;

// A turn held across a load and its save: another program's hold or save
// waits for it; this program's own save inside its hold does not wait on
// itself.
void a_held_turn_keeps_others_waiting()
{
    put("student.txt", "old");
    child c = start("turn");
    check(line_from(c.out) == "0", "the other program did not hold the turn");
    give_up_at = GetTickCount64() + 800;
    save_give_up = [] { return GetTickCount64() >= give_up_at; };
    check(file_hold("student.txt") == replace_status::stopped, "a second hold did not wait");
    give_up_at = GetTickCount64() + 800;
    check(save("new").status == replace_status::stopped, "a save did not wait for the hold");
    save_give_up = nullptr;
    finish(c);
    check(file_hold("student.txt") == replace_status::ok, "the turn was not free once released");
    ULONGLONG began = GetTickCount64();
    check(save("mine").status == replace_status::backed_up && GetTickCount64() - began < 2000,
          "the save inside its own hold failed or waited");
    second = start("save B 1");
    check(line_from(second.out) == "ready" && go_second(), "the saver did not start");
    Sleep(1000);
    check(slurp("student.txt") == "mine", "another program saved inside the hold");
    file_release();
    check(line_from(second.out) == "1", "the other save did not go in after the release");
    finish(second);
    check(slurp("student.txt") == "B1", "the other save is not in place");
}

struct test_case {
    const char* name;
    void (*run)();
};

const test_case cases[] = {
    {"each_failure_keeps_the_register", each_failure_keeps_the_register},
    {"unseen_registers_keep_every_version", unseen_registers_keep_every_version},
    {"a_folder_at_the_backup_name_stops_the_save", a_folder_at_the_backup_name_stops_the_save},
    {"a_held_register_makes_the_save_wait", a_held_register_makes_the_save_wait},
    {"two_programs_saving_at_once", two_programs_saving_at_once},
    {"recovery_files_take_the_next_free_name", recovery_files_take_the_next_free_name},
    {"ctrl_z_is_a_byte_except_at_the_end", ctrl_z_is_a_byte_except_at_the_end},
    {"a_save_inside_anothers_turn_waits", a_save_inside_anothers_turn_waits},
    {"loads_during_saves_find_the_register", loads_during_saves_find_the_register},
    {"a_register_left_halfway_is_never_removed", a_register_left_halfway_is_never_removed},
    {"passing_refusals_are_waited_out", passing_refusals_are_waited_out},
    {"a_held_turn_keeps_others_waiting", a_held_turn_keeps_others_waiting},
    {"a_register_left_by_a_save_is_found", a_register_left_by_a_save_is_found},
};

// Each case in a new empty folder, removed afterwards.
void in_fresh_folder(const test_case& c, int k)
{
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    std::string dir = std::string(tmp) + "student-file-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(k);
    CreateDirectoryA(dir.c_str(), nullptr);
    SetCurrentDirectoryA(dir.c_str());
    c.run();
    for (const std::string& name : names())
        if (!DeleteFileA(name.c_str()))
            RemoveDirectoryA(name.c_str());
    SetCurrentDirectoryA(tmp);
    RemoveDirectoryA(dir.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0)
        return hold(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "turn") == 0)
        return hold_turn();
    if (argc == 4 && std::strcmp(argv[1], "save") == 0)
        return save_often(argv[2], std::atoi(argv[3]));
    save_sync = false;
    int passed = 0, failed = 0;
    for (const test_case& c : cases) {
        int before = failed_checks;
        in_fresh_folder(c, passed + failed);
        bool ok = failed_checks == before;
        (ok ? passed : failed) += 1;
        std::printf("[%s] files.%s\n", ok ? " OK " : "FAIL", c.name);
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
