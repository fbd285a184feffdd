// What a save promises beyond writing the records: it never follows or
// clobbers a file of anyone else's, keeps the file's access and links,
// keeps a backup of a file it has not seen, and two saves never mix.
#include "console/console.h"
#include "console/screens.h"
#include "records/file.h"
#include "records/file_sys.h"
#include "support.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <filesystem>
#include <functional>
#include <new>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

// A file system without hard links (FAT, as on a memory stick) refuses
// link() with EPERM. This one takes the place of the C library's for the
// whole test program, and acts so while links_refused is set.
static bool links_refused = false;

extern "C" int link(const char* from, const char* to) noexcept
{
    if (links_refused) {
        errno = EPERM;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_linkat, AT_FDCWD, from, AT_FDCWD, to, 0));
}

// Memory that runs out for one allocation, as it may in the middle of a
// session. These take the standard allocation functions' place for the whole
// test program (every form a library may pair, so that what one allocates
// another frees), and refuse the next request while refuse_next is set.
static std::atomic<bool> refuse_next{false};

static void* take(std::size_t size) noexcept
{
    return refuse_next.exchange(false) ? nullptr : std::malloc(size ? size : 1);
}

static void* take_or_throw(std::size_t size)
{
    if (void* p = take(size))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size) { return take_or_throw(size); }
void* operator new[](std::size_t size) { return take_or_throw(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return take(size); }

// Kept out of line, so the compiler never sees a new paired with free.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;

class saving : public scratch {};

const std::string old_file = "1 甲 19 男 2005.01 南京 025-1 a@b.cn\n";
const std::string notice_line = "student.txt已被改动或未刷新,原文件已备份为student.txt.bak\n";

std::string backed_up_as(const std::string& name)
{
    return "student.txt已被改动或未刷新,原文件已备份为" + name + "\n";
}

std::size_t count_of(const std::string& text, const std::string& part)
{
    std::size_t k = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++k;
    return k;
}

// Every backup in the folder, removed, with what each held.
std::vector<std::string> take_backups(const std::string& dir)
{
    std::vector<std::string> held;
    for (const std::string& name : names_in(dir))
        if (name != "student.txt" && name.ends_with(".bak")) {
            held.push_back(read_file(dir + "/" + name));
            fs::remove(dir + "/" + name);
        }
    return held;
}

unsigned mode_of(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct backup_case {
    const char* name;
    std::function<void()> before; // what happened since the program started
    bool backed_up;
};

void PrintTo(const backup_case& c, std::ostream* os) { *os << c.name; }

class backup : public saving, public ::testing::WithParamInterface<backup_case> {};

TEST_P(backup, is_kept_only_of_a_file_the_program_has_not_seen)
{
    write_file("student.txt.bak", "an older backup\n");
    GetParam().before();
    std::string on_disk = read_file("student.txt");
    stu[n++] = rec("2", "乙");
    std::string err;
    EXPECT_EQ(drive(save, "", &err), "");
    // An earlier backup is never replaced: this one takes the next name.
    EXPECT_EQ(err, GetParam().backed_up ? backed_up_as("student.txt.2.bak") : "");
    EXPECT_EQ(read_file("student.txt.bak"), "an older backup\n");
    EXPECT_EQ(exists("student.txt.2.bak"), GetParam().backed_up);
    if (GetParam().backed_up) {
        EXPECT_EQ(read_file("student.txt.2.bak"), on_disk);
    }
    EXPECT_NE(read_file("student.txt").find("2 乙"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    cases, backup,
    ::testing::Values(
        backup_case{"nothing_loaded", [] { write_file("student.txt", old_file); }, true},
        backup_case{"loaded", [] { write_file("student.txt", old_file); drive(refresh, ""); }, false},
        backup_case{"no_file_yet", [] {}, false},
        backup_case{"saved_before", [] { drive(save, ""); }, false},
        backup_case{"loaded_then_saved", [] {
            write_file("student.txt", old_file);
            drive(refresh, "");
            drive(save, "");
        }, false},
        backup_case{"changed_on_disk_since_loaded", [] {
            write_file("student.txt", old_file);
            drive(refresh, "");
            write_file("student.txt", old_file + old_file);
        }, true},
        backup_case{"replaced_by_another_program_since_saved", [] {
            drive(save, "");
            std::string same_size = read_file("student.txt");
            write_file("other", same_size);
            fs::rename("other", "student.txt");
        }, true},
        backup_case{"load_refused", [] {
            write_file("student.txt", old_file);
            drive(refresh, "");
            write_file("student.txt", "1 a not-a-number m b a p e\n");
            drive(refresh, "");
        }, true},
        backup_case{"a_one_byte_register", [] { write_file("student.txt", "\n"); }, true},
        // After any failed load the program no longer vouches for the file,
        // even when the very same file comes back.
        backup_case{"loaded_then_a_load_that_found_it_gone", [] {
            write_file("student.txt", old_file);
            drive(refresh, "");
            fs::rename("student.txt", "away");
            drive(refresh, "");
            fs::rename("away", "student.txt");
        }, true},
        backup_case{"loaded_then_a_load_that_could_not_open_it", [] {
            write_file("student.txt", old_file);
            drive(refresh, "");
            rlimit was;
            getrlimit(RLIMIT_NOFILE, &was);
            int free_fd = dup(0);
            close(free_fd);
            rlimit none = was;
            // One descriptor left, which the dialogue's input takes: none
            // is left to open the file with.
            none.rlim_cur = static_cast<rlim_t>(free_fd) + 1;
            setrlimit(RLIMIT_NOFILE, &none);
            std::string out = drive(refresh, "");
            setrlimit(RLIMIT_NOFILE, &was);
            ASSERT_EQ(out, "读取文件出错,未刷新\n");
        }, true},
        backup_case{"created_after_a_load_found_none", [] {
            drive(refresh, "");
            write_file("student.txt", old_file);
        }, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Whether a save counts as done for what follows it (an import says how
// many it added, and ends with 0): a backup made of a register another
// program changed is a save done; a save refused is none, and says so.
TEST_F(saving, counts_as_done_only_when_the_register_was_written)
{
    struct row {
        replace_status status;
        std::string backup;
        bool done;
        std::string err;
    } rows[] = {{replace_status::ok, "", true, ""},
                {replace_status::backed_up, "student.txt.bak", true, notice_line},
                {replace_status::busy, "", false, "保存失败,student.txt未改变\nstudent.txt正被其他程序使用\n"},
                {replace_status::no_backup, "", false, "保存失败,student.txt未改变\n无法备份原文件,未保存\n"},
                // Broken off with the old register moved aside (Windows): the
                // operator is told where it now is.
                {replace_status::failed, "student.txt.2.bak", false, "保存失败\n原student.txt现名为student.txt.2.bak\n"}};
    for (const row& r : rows) {
        bool done = false;
        std::string err;
        drive([&] { done = tell_save({r.status, r.backup}, notice); }, "", &err);
        EXPECT_EQ(done, r.done) << static_cast<int>(r.status);
        EXPECT_EQ(err, r.err) << static_cast<int>(r.status);
    }
}

TEST_F(saving, a_register_that_appears_while_a_new_one_is_written_is_kept_as_the_backup)
{
    // Another program creates the file just before this one puts its own
    // in place: this save must not take it for its own, nor drop it.
    save_fault = [](save_step s) {
        if (s == save_step::rename && !exists("student.txt"))
            write_file("student.txt", old_file);
        return false;
    };
    stu[n++] = rec("2", "乙");
    std::string err;
    std::string out = drive(save, "", &err);
    save_fault = nullptr;
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, notice_line);
    EXPECT_EQ(read_file("student.txt.bak"), old_file);
    EXPECT_NE(read_file("student.txt").find("2 乙"), std::string::npos);
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"student.txt", "student.txt.bak"}));
}

TEST_F(saving, keeps_the_permissions_of_the_file_and_of_its_backup)
{
    for (unsigned mode : {0600u, 0640u, 0604u, 0444u}) {
        write_file("student.txt", old_file);
        fs::remove("student.txt.bak");
        fs::permissions("student.txt", static_cast<fs::perms>(mode));
        set_table({rec("3", "丙")});
        EXPECT_EQ(drive(save, ""), "") << std::oct << mode; // root may write a read-only file
        EXPECT_EQ(mode_of("student.txt"), mode) << std::oct << mode;
        EXPECT_EQ(mode_of("student.txt.bak"), mode) << std::oct << mode;
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    for (int k = 0; k < 2; ++k) { // the first must not change what the second gets
        fs::remove("student.txt");
        drive(save, "");
        EXPECT_EQ(mode_of("student.txt"), 0666 & ~mask) << "a new file, as any program makes one";
    }
}

TEST_F(saving, keeps_the_owner_and_group_where_it_may)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "giving a file away needs root, as CI has";
    // Another owner and group, and only another group.
    for (uid_t owner : {65534u, 0u}) {
        write_file("student.txt", old_file);
        ASSERT_EQ(::chown("student.txt", owner, 65534), 0);
        drive(refresh, "");
        drive(save, "");
        struct stat st;
        ASSERT_EQ(::stat("student.txt", &st), 0);
        EXPECT_EQ(st.st_uid, owner);
        EXPECT_EQ(st.st_gid, 65534u);
    }
}

TEST_F(saving, keeps_the_group_when_only_the_group_may_be_kept)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching to an unprivileged user needs root, as CI has";
    // Root's register, writable by a group the operator is in.
    fs::permissions(dir, fs::perms::all);
    const std::string file = dir + "/student.txt";
    write_file(file, old_file);
    ASSERT_EQ(::chown(file.c_str(), 0, 100), 0);
    fs::permissions(file, static_cast<fs::perms>(0664));
    outcome o = finish_program(start_program(
        dir, "1\n7\n8\n",
        {"setpriv", "--reuid=65534", "--regid=65534", "--groups=100"}));
    EXPECT_EQ(o.out.find("保存失败"), std::string::npos) << o.out;
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 100u);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
}

TEST_F(saving, replaces_the_file_a_chain_of_links_ends_at_and_keeps_the_links)
{
    // A folder name of one letter: a slash at index 1 is not the root.
    fs::create_directory("d");
    write_file("d/real.txt", old_file);
    fs::create_symlink(dir + "/d/real.txt", "d/last"); // relative, then absolute
    fs::create_symlink("last", "d/middle");
    fs::create_symlink("d/middle", "student.txt");
    drive(refresh, "");
    stu[n++] = rec("2", "乙");
    std::string err;
    drive(save, "", &err);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(fs::is_symlink("student.txt"));
    EXPECT_TRUE(fs::is_symlink("d/middle"));
    EXPECT_EQ(read_file("d/real.txt"), old_file + "2 乙 20 男 2001.2 addr-2 1392 2@x.cn\n");
    EXPECT_EQ(names_in("d"), (std::vector<std::string>{"last", "middle", "real.txt"}));

    // Changed behind the program's back: the backup is where the notice
    // says, beside the name the operator uses.
    write_file("d/real.txt", old_file);
    drive(save, "", &err);
    EXPECT_EQ(err, notice_line);
    EXPECT_EQ(read_file("student.txt.bak"), old_file);
    EXPECT_EQ(names_in("d"), (std::vector<std::string>{"last", "middle", "real.txt"}));
}

TEST_F(saving, a_link_planted_by_another_user_in_a_shared_folder_is_not_followed)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "planting a link as another user needs root, as CI has";
    // Shared means both: anyone may write there, and only owners delete.
    // Elsewhere anyone who may plant a link may replace the file itself.
    struct folder {
        unsigned mode;
        bool shared;
    };
    for (folder f : {folder{01777, true}, folder{0777, false}, folder{01755, false}}) {
        SCOPED_TRACE(f.mode);
        std::string name = dir + "/shared" + std::to_string(f.mode);
        fs::create_directory(name);
        fs::permissions(name, static_cast<fs::perms>(f.mode));
        write_file(dir + "/victim", "not to be touched\n");
        fs::create_symlink(dir + "/victim", name + "/student.txt");
        ASSERT_EQ(::lchown((name + "/student.txt").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chdir(name.c_str()), 0);
        set_table({rec("5", "戊")});
        std::string err;
        EXPECT_EQ(drive(save, "", &err), f.shared ? "保存失败,student.txt未改变\n" : "");
        EXPECT_EQ(read_file(dir + "/victim") == "not to be touched\n", f.shared);
        // Followed, the file it ends at was not loaded: it is kept aside.
        EXPECT_EQ(names_in(".").size(), f.shared ? 1u : 2u);
    }
}

TEST_F(saving, keeps_the_access_list_of_the_file)
{
    // A file readable by one more user (1000) through an access list:
    // version 2, then owner rw, user 1000 r, group none, mask r, others none.
    auto entry = [](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
        std::string e(8, '\0');
        std::memcpy(e.data(), &tag, 2);
        std::memcpy(e.data() + 2, &perm, 2);
        std::memcpy(e.data() + 4, &id, 4);
        return e;
    };
    std::uint32_t version = 2;
    std::string acl(reinterpret_cast<const char*>(&version), 4);
    acl += entry(0x01, 6, ~0u) + entry(0x02, 4, 1000) + entry(0x04, 0, ~0u) + entry(0x10, 4, ~0u) +
           entry(0x20, 0, ~0u);
    write_file("student.txt", old_file);
    if (::setxattr("student.txt", "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no access lists on this file system";
    drive(refresh, "");
    drive(save, "");
    char got[256];
    ssize_t len = ::getxattr("student.txt", "system.posix_acl_access", got, sizeof got);
    ASSERT_GT(len, 0) << "the access list was dropped";
    EXPECT_EQ(std::string(got, static_cast<std::size_t>(len)), acl);

    // A file without one stays without, whatever its folder gives new files.
    fs::remove("student.txt");
    write_file("student.txt", old_file);
    ASSERT_EQ(::setxattr(".", "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
    drive(refresh, "");
    drive(save, "");
    EXPECT_LT(::getxattr("student.txt", "system.posix_acl_access", got, sizeof got), 0)
        << "the folder's access list was taken";
}

// As far as the system follows a chain of links when it opens a file, a
// save follows it too: up to 40 links, and not one more.
TEST_F(saving, a_chain_of_links_is_saved_through_as_far_as_the_system_opens_it)
{
    for (int links : {39, 40, 41}) {
        for (const auto& e : fs::directory_iterator("."))
            fs::remove_all(e.path());
        write_file("real.txt", old_file);
        std::string to = "real.txt";
        for (int k = 1; k < links; ++k) {
            fs::create_symlink(to, "link" + std::to_string(k));
            to = "link" + std::to_string(k);
        }
        fs::create_symlink(to, "student.txt");
        std::FILE* f = std::fopen("student.txt", "r");
        bool opens = f != nullptr;
        if (f)
            std::fclose(f);
        EXPECT_EQ(opens, links <= 40) << links;
        n = 0;
        stu[n++] = rec("2", "乙");
        EXPECT_EQ(drive(save, ""), opens ? "" : "保存失败,student.txt未改变\n") << links;
        EXPECT_EQ(read_file("real.txt").find("2 乙") != std::string::npos, opens) << links;
    }
}

TEST_F(saving, a_chain_of_links_that_loops_is_not_saved_through)
{
    fs::create_symlink("loop", "student.txt");
    fs::create_symlink("student.txt", "loop");
    stu[n++] = rec("2", "乙");
    EXPECT_EQ(drive(save, ""), "保存失败,student.txt未改变\n");
    EXPECT_EQ(fs::read_symlink("student.txt"), "loop");
    EXPECT_EQ(fs::read_symlink("loop"), "student.txt");
    EXPECT_EQ(names_in("."), (std::vector<std::string>{"loop", "student.txt"}));
}

// Names an attacker or the operator may have put beside the register; a
// save neither follows nor touches any of them.
TEST_F(saving, never_touches_a_planted_link_or_the_operators_own_files)
{
    write_file("victim", "not to be touched\n");
    write_file("student.txt", old_file);
    write_file("student.txt.tmp", "the operator's own notes\n");
    for (const char* planted : {"student.txt.bak.tmp", "student.txt.XXXXXX", ".student.txt"})
        fs::create_symlink("victim", planted);
    set_table({rec("4", "丁")});
    std::string err;
    EXPECT_EQ(drive(save, "", &err), "");
    EXPECT_EQ(err, notice_line);
    EXPECT_EQ(read_file("victim"), "not to be touched\n");
    EXPECT_EQ(read_file("student.txt.tmp"), "the operator's own notes\n");
    EXPECT_EQ(read_file("student.txt.bak"), old_file);
    EXPECT_EQ(names_in("."), (std::vector<std::string>{".student.txt", "student.txt", "student.txt.XXXXXX",
                                                       "student.txt.bak", "student.txt.bak.tmp",
                                                       "student.txt.tmp", "victim"}));
}

// Whatever holds the backup's name but an earlier backup, the old register
// cannot be kept, so it is not replaced, and nothing is left behind.
struct blocked_case {
    const char* name;
    std::function<void()> block;
    std::string said = "无法将原文件备份为student.txt.bak,未保存\n";
};

void PrintTo(const blocked_case& c, std::ostream* os) { *os << c.name; }

class blocked : public saving, public ::testing::WithParamInterface<blocked_case> {};

TEST_P(blocked, backup_stops_the_save)
{
    write_file("victim", "not to be touched\n");
    write_file("student.txt", old_file);
    GetParam().block();
    std::vector<std::string> before = names_in(".");
    set_table({rec("4", "丁")});
    dirty = true;
    std::string err;
    EXPECT_EQ(drive(save, "", &err), "保存失败,student.txt未改变\n");
    save_fault = nullptr;
    EXPECT_EQ(err, GetParam().said);
    EXPECT_EQ(read_file("student.txt"), old_file);
    EXPECT_EQ(read_file("victim"), "not to be touched\n");
    EXPECT_EQ(names_in("."), before);
    EXPECT_TRUE(dirty) << "the table must still count as unsaved";
}

INSTANTIATE_TEST_SUITE_P(
    cases, blocked,
    ::testing::Values(
        blocked_case{"a_planted_link", [] { fs::create_symlink("victim", "student.txt.bak"); }},
        blocked_case{"a_dangling_link", [] { fs::create_symlink("nowhere", "student.txt.bak"); }},
        blocked_case{"a_folder", [] { fs::create_directory("student.txt.bak"); }},
        blocked_case{"no_room_for_it", [] {
            save_fault = [](save_step s) { return s == save_step::backup; };
        }},
        // The new file is written, the copy of the old one is not.
        blocked_case{"no_room_for_the_copy", [] {
            static int creates;
            creates = 0;
            save_fault = [](save_step s) { return s == save_step::create && ++creates == 2; };
        }, "无法备份原文件,未保存\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A recovery file is for its owner to open: never more open than the
// register, always readable and writable by its owner, and a second one
// never replaces the first.
TEST_F(saving, recovery_files_are_open_to_their_owner_and_never_replaced)
{
    for (unsigned mode : {0444u, 0000u, 0200u, 0640u, 0604u}) {
        for (const std::string& name : names_in("."))
            fs::remove(name);
        write_file("student.txt", old_file);
        fs::permissions("student.txt", static_cast<fs::perms>(mode));
        std::string err, one_err;
        for (const char* who : {"1", "2"}) {
            set_table({rec(who, "甲")});
            dirty = true;
            drive([] { keep_unsaved(); }, "", &one_err);
            err += one_err;
        }
        EXPECT_EQ(err, "有未保存的修改,已另存为student.unsaved.txt\n"
                       "有未保存的修改,已另存为student.unsaved.2.txt\n");
        for (const char* name : {"student.unsaved.txt", "student.unsaved.2.txt"})
            EXPECT_EQ(mode_of(name), (mode & 0066) | 0600) << std::oct << mode << " " << name;
        EXPECT_NE(read_file("student.unsaved.txt").find("1 甲"), std::string::npos);
        EXPECT_NE(read_file("student.unsaved.2.txt").find("2 甲"), std::string::npos);
    }
}

// Memory that runs out during a session ends it, with a word, and the work
// not yet saved is kept as at any other end.
TEST_F(saving, running_out_of_memory_in_a_session_keeps_the_work)
{
    set_table({rec("1", "甲")});
    dirty = true;
    std::string err;
    int status = -1;
    std::string out = drive([&] {
        refuse_next = true;
        status = run();
    }, "", &err);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "内存不足,程序结束\n有未保存的修改,已另存为student.unsaved.txt\n") << out;
    EXPECT_NE(read_file("student.unsaved.txt").find("1 甲"), std::string::npos);
}

// Without hard links every fresh name is still claimed, by a rename that
// replaces nothing: a register where there was none, the next free backup
// name beside an older backup, and kept work.
TEST_F(saving, without_hard_links_fresh_names_are_still_claimed)
{
    links_refused = true;
    set_table({rec("4", "丁")});
    dirty = true;
    std::string out = drive(save, "");
    write_file("student.txt.bak", "an older backup\n");
    write_file("student.txt", old_file); // changed elsewhere
    std::string err, kept;
    out += drive(save, "", &err);
    bool was_kept = save_unsaved(kept);
    links_refused = false;
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, backed_up_as("student.txt.2.bak"));
    EXPECT_TRUE(was_kept);
    EXPECT_EQ(kept, "student.unsaved.txt");
    EXPECT_EQ(read_file("student.txt.bak"), "an older backup\n");
    EXPECT_EQ(read_file("student.txt.2.bak"), old_file);
    EXPECT_NE(read_file("student.txt").find("4 丁"), std::string::npos);
    EXPECT_NE(read_file("student.unsaved.txt").find("4 丁"), std::string::npos);
    EXPECT_EQ(names_in(".").size(), 4u) << "a temporary file was left";
}

// A request to end the session that comes while the new register is being
// written: the old one stays as it was, with no backup or new file beside it.
TEST_F(saving, a_request_to_end_during_the_write_leaves_the_register_alone)
{
    write_file("student.txt", old_file);
    save_give_up = [] { return true; };
    set_table({rec("4", "丁")});
    dirty = true;
    std::string err;
    std::string out = drive(save, "", &err);
    save_give_up = nullptr;
    EXPECT_EQ(out, "保存失败,student.txt未改变\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(read_file("student.txt"), old_file);
    EXPECT_EQ(names_in("."), std::vector<std::string>{"student.txt"});
}

// Programs that save one after another while this one waits: each time it
// gets its turn the file has changed hands, and it waits again, but never
// beyond one bound for the whole save, and then it says why.
TEST_F(saving, a_register_changing_hands_all_the_time_bounds_the_wait_too)
{
    write_file("student.txt", old_file);
    static int held;
    held = ::open("student.txt", O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    save_give_up = [] {
        write_file("next", old_file);
        int now = ::open("next", O_RDONLY);
        ::flock(now, LOCK_EX);
        ::rename("next", "student.txt");
        ::close(held); // lets the waiting save in, to a file no longer there
        held = now;
        return false;
    };
    set_table({rec("4", "丁")});
    dirty = true;
    std::string err;
    std::string out = drive(save, "", &err);
    save_give_up = nullptr;
    ::close(held);
    EXPECT_EQ(out, "保存失败,student.txt未改变\n");
    EXPECT_EQ(err, "student.txt正被其他程序使用\n");
    EXPECT_EQ(read_file("student.txt"), old_file);
    EXPECT_EQ(names_in("."), std::vector<std::string>{"student.txt"});
}

// Another program holding the register's lock: the save gives up after a
// bounded wait and says why; a request to end the session ends the wait.
TEST_F(saving, a_lock_held_elsewhere_bounds_the_wait)
{
    write_file(dir + "/student.txt", old_file);
    int held = ::open((dir + "/student.txt").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string add = "1\n4\n1\n2 乙 20 女 2004.12 苏州 0512-2 c@d.cn\n7\n";
    outcome o = run_program(dir, add + "8\n");
    EXPECT_NE(o.out.find("保存失败,student.txt未改变\n"), std::string::npos) << o.out;
    EXPECT_EQ(o.err, "student.txt正被其他程序使用\n有未保存的修改,已另存为student.unsaved.txt\n");
    EXPECT_EQ(read_file(dir + "/student.txt"), old_file);

    // An import waits as long, and says why too.
    write_file(dir + "/in.csv", "3,丙,21,男,2003.03,无锡,0510-3,e@f.cn\n");
    o = run_program(dir, "", {"--import", "in.csv"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "导入失败,student.txt未改变\nstudent.txt正被其他程序使用\n");
    EXPECT_EQ(read_file(dir + "/student.txt"), old_file);

    // The same, with SIGTERM once the program has asked for the 7: it ends
    // the session at once, and the work is kept.
    fs::remove(dir + "/student.unsaved.txt");
    running r = start_program(dir, add);
    std::string shown;
    for (int tries = 0; tries < 1000 && count_of(shown, "请选择菜单编号:") < 3; ++tries) {
        ::usleep(5000);
        shown = read_file(r.io + "/output");
    }
    ::kill(r.pid, SIGTERM);
    o = finish_program(r);
    ::close(held);
    EXPECT_EQ(o.signal, SIGTERM);
    EXPECT_EQ(o.err, "有未保存的修改,已另存为student.unsaved.txt\n") << "the wait ran its course";
    EXPECT_EQ(read_file(dir + "/student.txt"), old_file);
    EXPECT_NE(read_file(dir + "/student.unsaved.txt").find("2 乙"), std::string::npos);
}

struct unreadable_case {
    const char* name;
    std::function<void(const std::string& dir)> make;
    bool as_user; // run as an unprivileged user (root reads anything)
};

void PrintTo(const unreadable_case& c, std::ostream* os) { *os << c.name; }

class unreadable : public saving, public ::testing::WithParamInterface<unreadable_case> {};

TEST_P(unreadable, is_reported_at_once_and_never_replaced_as_missing)
{
    if (GetParam().as_user && geteuid() != 0)
        GTEST_SKIP() << "switching to an unprivileged user needs root, as CI has";
    GetParam().make(dir);
    fs::permissions(dir, fs::perms::all);
    outcome o = finish_program(
        start_program(dir, "1\n8\n", GetParam().as_user ? as_nobody : std::vector<std::string>{}));
    EXPECT_EQ(o.status, 0) << "hung or killed";
    EXPECT_NE(o.out.find("读取文件出错,未刷新\n"), std::string::npos) << o.out;
}

INSTANTIATE_TEST_SUITE_P(
    cases, unreadable,
    ::testing::Values(
        unreadable_case{"no_permission", [](const std::string& d) {
            write_file(d + "/student.txt", old_file);
            fs::permissions(d + "/student.txt", fs::perms::none);
        }, true},
        unreadable_case{"fifo", [](const std::string& d) {
            ASSERT_EQ(::mkfifo((d + "/student.txt").c_str(), 0644), 0);
        }, false},
        unreadable_case{"link_to_a_device", [](const std::string& d) {
            fs::create_symlink("/dev/zero", d + "/student.txt");
        }, false},
        unreadable_case{"folder", [](const std::string& d) {
            fs::create_directory(d + "/student.txt");
        }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(saving, a_file_the_operator_may_not_write_is_not_replaced)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching to an unprivileged user needs root, as CI has";
    fs::permissions(dir, fs::perms::all);
    const std::string readonly = dir + "/student.txt";
    write_file(readonly, old_file);
    ASSERT_EQ(::chown(readonly.c_str(), 65534, 65534), 0);
    fs::permissions(readonly, static_cast<fs::perms>(0444));
    outcome o = finish_program(start_program(dir, "1\n5\n1\n7\n8\n", as_nobody));
    EXPECT_NE(o.out.find("保存失败,student.txt未改变\n"), std::string::npos) << o.out;
    EXPECT_EQ(read_file(readonly), old_file);
    // The delete is kept apart, no more readable than the register, and
    // open to its owner, so a second session's is kept too.
    o = finish_program(start_program(dir, "1\n5\n1\n8\n", as_nobody));
    EXPECT_EQ(o.err, "有未保存的修改,已另存为student.unsaved.2.txt\n");
    EXPECT_EQ(names_in(dir), (std::vector<std::string>{"student.txt", "student.unsaved.2.txt",
                                                       "student.unsaved.txt"}));
    EXPECT_EQ(mode_of(dir + "/student.unsaved.txt"), 0644u);
    EXPECT_EQ(mode_of(dir + "/student.unsaved.2.txt"), 0644u);
}

// A save refused by the system says why, after the dialogue's line; the
// work then goes to a recovery file beside the register, or at home when
// the register's folder takes no new file.
struct refused_case {
    const char* name;
    unsigned folder;    // the register's folder's mode (owned by root)
    unsigned file;      // the register's mode
    bool nobody_owns;   // the register is the operator's own
    bool home;          // the operator has a home folder
    std::string reason; // on standard error
    std::string kept;   // where the work went, under the scratch folder; empty: lost
    bool account = true; // the operator has an account (else no HOME either)
};

void PrintTo(const refused_case& c, std::ostream* os) { *os << c.name; }

class refused_save : public saving, public ::testing::WithParamInterface<refused_case> {};

TEST_P(refused_save, says_why_and_keeps_the_work_where_it_can)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching to an unprivileged user needs root, as CI has";
    const refused_case& c = GetParam();
    const unsigned uid = c.account ? 65534 : 54321;
    std::vector<std::string> as = {"setpriv", "--reuid=" + std::to_string(uid), "--regid=" + std::to_string(uid),
                                   "--clear-groups"};
    if (!c.account)
        as.insert(as.end(), {"env", "HOME="});
    write_file(dir + "/student.txt", old_file);
    if (c.nobody_owns) {
        ASSERT_EQ(::chown((dir + "/student.txt").c_str(), uid, uid), 0);
    }
    fs::permissions(dir + "/student.txt", static_cast<fs::perms>(c.file));
    if (c.home) {
        fs::create_directory(dir + "/home");
        ASSERT_EQ(::chown((dir + "/home").c_str(), 65534, 65534), 0);
    }
    fs::permissions(dir, static_cast<fs::perms>(c.folder));
    outcome o = finish_program(start_program(dir, "1\n5\n1\n7\n8\n", as));
    fs::permissions(dir, fs::perms::all);
    EXPECT_NE(o.out.find("保存失败,student.txt未改变\n"), std::string::npos) << o.out;
    const std::string kept = c.kept.empty() ? "另存失败\n" : "已另存为" + (c.kept[0] == '/' ? dir + c.kept : c.kept) + "\n";
    EXPECT_EQ(o.err, c.reason + "\n有未保存的修改," + kept);
    EXPECT_EQ(o.status, c.kept.empty() ? 1 : 0);
    EXPECT_EQ(read_file(dir + "/student.txt"), old_file);
    if (!c.kept.empty()) {
        EXPECT_EQ(read_file(c.kept[0] == '/' ? dir + c.kept : dir + "/" + c.kept), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, refused_save,
    ::testing::Values(
        refused_case{"a_folder_that_takes_no_new_file", 0755, 0644, true, true,
                     "无权在student.txt所在的文件夹中新建文件", "/home/student.unsaved.txt"},
        refused_case{"and_no_home_either", 0755, 0644, true, false,
                     "无权在student.txt所在的文件夹中新建文件", ""},
        refused_case{"and_no_account_to_find_a_home_in", 0755, 0644, true, false,
                     "无权在student.txt所在的文件夹中新建文件", "", false},
        refused_case{"a_file_the_operator_may_not_write", 0777, 0444, false, false, "无权改写student.txt",
                     "student.unsaved.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each program adds its own students and saves, both at once, many times.
TEST_F(saving, two_programs_saving_at_once_publish_one_whole_table)
{
    auto session = [](char who) {
        std::string in = "4\n300\n", file;
        for (int k = 0; k < 300; ++k) {
            std::string r = std::string(1, who) + std::to_string(1000 + k) + " 学生 20 女 2004.12 " +
                            "江苏省南京市鼓楼区汉口路 13800000000 s@example.edu.cn\n";
            in += r;
            file += r;
        }
        return std::make_pair(in + "7\n8\n", file);
    };
    auto [a_in, a_file] = session('a');
    auto [b_in, b_file] = session('b');
    for (int round = 0; round < 30; ++round) {
        running a = start_program(dir, a_in);
        running b = start_program(dir, b_in);
        outcome oa = finish_program(a);
        outcome ob = finish_program(b);
        ASSERT_EQ(oa.status, 0);
        ASSERT_EQ(ob.status, 0);
        ASSERT_EQ(oa.out.find("保存失败"), std::string::npos) << "round " << round;
        ASSERT_EQ(ob.out.find("保存失败"), std::string::npos) << "round " << round;
        std::string now = read_file(dir + "/student.txt");
        ASSERT_TRUE(now == a_file || now == b_file) << "round " << round << ": a mix";
        take_backups(dir);
        std::vector<std::string> left = names_in(dir);
        ASSERT_EQ(left.size(), 1u) << left.back();
    }

    // Both load the same register first: whichever saves second replaces a
    // file it has not seen, so it keeps the other's as the backup.
    for (int round = 0; round < 30; ++round) {
        write_file(dir + "/student.txt", "");
        running a = start_program(dir, "1\n" + a_in);
        running b = start_program(dir, "1\n" + b_in);
        outcome oa = finish_program(a);
        outcome ob = finish_program(b);
        std::string now = read_file(dir + "/student.txt");
        std::vector<std::string> baks = take_backups(dir);
        ASSERT_LE(baks.size(), 1u) << "round " << round;
        std::string bak = baks.empty() ? "" : baks[0];
        // The second may also have started after the first had saved, and
        // loaded its table: then nothing needs keeping.
        ASSERT_TRUE(now == a_file || now == b_file || now == a_file + b_file) << "round " << round;
        auto kept = [&](const std::string& t) {
            return now.find(t) != std::string::npos || bak.find(t) != std::string::npos;
        };
        ASSERT_TRUE(kept(a_file) && kept(b_file)) << "round " << round << ": a save was lost";
        ASSERT_EQ(oa.err + ob.err, bak.empty() ? "" : notice_line) << "round " << round;
    }
}

// A numbered series as both backups (any clear) and recovery files (any
// set) claim it: what holds the first name decides whether the series
// moves on or the claim stops there, and nothing found is ever touched.
struct series_case {
    const char* name;
    std::function<void()> first; // what holds s.bak before the claim
    bool any;
    const char* had; // the name the new file takes; nullptr: none
};

void PrintTo(const series_case& c, std::ostream* os) { *os << c.name; }

class series : public saving, public ::testing::WithParamInterface<series_case> {};

TEST_P(series, moves_on_only_past_what_may_be_passed)
{
    const series_case& c = GetParam();
    c.first();
    auto kind = fs::symlink_status("s.bak").type();
    write_file("new", "fresh\n");
    std::string name;
    bool had = claim_series("s", ".bak", c.any, [](const std::string& to) { return sys_put_new("new", to); },
                            name);
    ASSERT_EQ(had, c.had != nullptr);
    EXPECT_EQ(name, c.had ? c.had : "s.bak");
    // The new file took its name whole, or stayed where it was.
    EXPECT_EQ(read_file(had ? name : "new"), "fresh\n");
    EXPECT_EQ(exists("new"), !had);
    EXPECT_EQ(fs::symlink_status("s.bak").type(), c.had && !std::strcmp(c.had, "s.bak") ? fs::file_type::regular : kind);
    if (kind == fs::file_type::regular) {
        EXPECT_EQ(read_file("s.bak"), "old\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    saving, series,
    ::testing::Values(series_case{"nothing_there", [] {}, false, "s.bak"},
                      series_case{"an_earlier_version", [] { write_file("s.bak", "old\n"); }, false, "s.2.bak"},
                      series_case{"a_folder_stops_a_backup", [] { fs::create_directory("s.bak"); }, false, nullptr},
                      series_case{"a_link_stops_a_backup", [] { fs::create_symlink("gone", "s.bak"); }, false, nullptr},
                      series_case{"a_folder_is_passed_by_a_recovery_file", [] { fs::create_directory("s.bak"); },
                                  true, "s.2.bak"},
                      series_case{"a_link_is_passed_by_a_recovery_file", [] { fs::create_symlink("gone", "s.bak"); },
                                  true, "s.2.bak"}),
    [](const auto& info) { return std::string(info.param.name); });

// A series whose every name is taken claims none: the new file stays
// where it was, and nothing is said to be kept.
TEST_F(saving, a_full_series_claims_no_name)
{
    for (int k = 1; k <= series_cap; ++k)
        write_file(numbered("s", ".bak", k), "old\n");
    write_file("new", "fresh\n");
    std::string name;
    EXPECT_FALSE(claim_series("s", ".bak", true, [](const std::string& to) { return sys_put_new("new", to); },
                              name));
    EXPECT_EQ(read_file("new"), "fresh\n");
}

// The one budget a save waits within: it runs out after its time, not
// before, and a request to stop ends it at the next step.
TEST_F(saving, the_wait_budget_runs_out_once_and_stops_when_asked)
{
    struct row {
        bool (*give_up)();
        replace_status why;
        long at_least, at_most; // ms
    };
    for (const row& r : {row{nullptr, replace_status::busy, 40, 1000},
                         row{[] { return true; }, replace_status::stopped, 0, 20}}) {
        save_give_up = r.give_up;
        wait_budget w;
        long long start = sys_ms();
        w.end = start + 40;
        int steps = 0;
        while (wait_more(w))
            ++steps;
        long long took = sys_ms() - start;
        save_give_up = nullptr;
        EXPECT_EQ(w.why, r.why);
        EXPECT_GE(took, r.at_least);
        EXPECT_LE(took, r.at_most);
        EXPECT_EQ(steps == 0, r.give_up != nullptr);
        EXPECT_FALSE(wait_more(w) && r.give_up == nullptr) << "a spent budget gave more time";
    }
}

} // namespace
