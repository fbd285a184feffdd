// How a session of the built program ends: unsaved work is kept whatever
// ends it, signals end it cleanly, and a closed output pipe or a huge
// token cannot cost the operator's work.
#include "support.h"

#include <csignal>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class session : public scratch {};

const std::string one = "7 张三 19 男 2004.05 北京 138 z@q.com\n";
const std::string kept_notice = "有未保存的修改,已另存为student.unsaved.txt\n";

const std::string first = "1 甲 19 男 2005.01 南京 025-1 a@b.cn\n";

struct ending {
    const char* name;
    std::string input;
    bool kept;         // the table went to the unsaved-work file
    std::string table; // what it holds then
};

void PrintTo(const ending& e, std::ostream* os) { *os << e.name; }

class ends : public session, public ::testing::WithParamInterface<ending> {};

TEST_P(ends, keeps_unsaved_changes_and_nothing_else)
{
    write_file(dir + "/student.txt", first);
    outcome o = run_program(dir, GetParam().input);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err.find(kept_notice) != std::string::npos, GetParam().kept) << o.err;
    EXPECT_EQ(exists(dir + "/student.unsaved.txt"), GetParam().kept);
    if (GetParam().kept) {
        EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), saved(GetParam().table));
    }
    if (GetParam().input.find("7\n") == std::string::npos) {
        EXPECT_EQ(read_file(dir + "/student.txt"), first) << "saved without being asked";
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, ends,
    ::testing::Values(
        ending{"added_then_eight", "4\n1\n" + one + "8\n", true, one},
        ending{"added_then_end_of_input", "4\n1\n" + one, true, one},
        // The students whose answers were all in are kept; the rest was
        // never complete.
        ending{"add_cut_short", "4\n3\n" + one + "8 李四 20", true, one},
        ending{"deleted_then_eight", "1\n5\n1\n8\n", true, ""},
        ending{"modified_then_end_of_input", "1\n4\n1\n" + one + "3\n1\n1\n乙\n", true,
               "1 乙 19 男 2005.01 南京 025-1 a@b.cn\n" + one},
        ending{"added_and_saved", "4\n1\n" + one + "7\n8\n", false, ""},
        // A load over unsaved work keeps it first.
        ending{"added_then_loaded", "4\n1\n" + one + "1\n8\n", true, one},
        ending{"nothing_changed", "1\n6\n3\n1\n8\n5\n404\n4\n0\n8\n", false, ""},
        // A value typed ahead for the student number of an empty table is
        // read as that, not as a menu choice that would save the empty table.
        ending{"modify_on_an_empty_table_with_an_answer_typed_ahead", "3 7\n8\n", false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A folder the operator may not write to: the work cannot be kept, which
// is said, a load is refused rather than let it replace the work, and the
// session ends in failure.
TEST_F(session, unsaved_work_that_cannot_be_kept_is_reported)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching to an unprivileged user needs root, as CI has";
    write_file(dir + "/student.txt", first);
    std::filesystem::permissions(dir, static_cast<std::filesystem::perms>(0755));
    outcome o = finish_program(start_program(dir, "4\n1\n" + one + "1\n6\n8\n", as_nobody));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "有未保存的修改,另存失败\n有未保存的修改,另存失败\n");
    EXPECT_NE(o.out.find("有未保存的修改,未刷新\n"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("张三"), std::string::npos) << "the listing lost the added student";
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"student.txt"});
}

// Where the unsaved work goes when something is already there: never over
// it, nor through it, but under the next free name.
struct unsaved_case {
    const char* name;
    std::function<void(const std::string& dir)> before;
    const char* kept_as;
};

void PrintTo(const unsaved_case& c, std::ostream* os) { *os << c.name; }

class unsaved_target : public session, public ::testing::WithParamInterface<unsaved_case> {};

TEST_P(unsaved_target, keeps_the_work_and_whatever_was_there)
{
    write_file(dir + "/victim", "not to be touched\n");
    GetParam().before(dir);
    std::vector<std::string> before = names_in(dir);
    std::string was = read_file(dir + "/student.unsaved.txt");
    bool was_link = std::filesystem::is_symlink(dir + "/student.unsaved.txt");
    outcome o = run_program(dir, "4\n1\n" + one + "8\n");
    const std::string kept = GetParam().kept_as;
    EXPECT_EQ(o.err, "有未保存的修改,已另存为" + kept + "\n");
    EXPECT_EQ(read_file(dir + "/" + kept), one);
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), kept == "student.unsaved.txt" ? one : was);
    EXPECT_EQ(std::filesystem::is_symlink(dir + "/student.unsaved.txt"), was_link);
    EXPECT_EQ(read_file(dir + "/victim"), "not to be touched\n");
    before.push_back(kept);
    std::sort(before.begin(), before.end());
    EXPECT_EQ(names_in(dir), before);
    struct stat st;
    ASSERT_EQ(stat((dir + "/" + kept).c_str(), &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, (0666 & ~mask) | 0600) << "not the mode of a plain new file";
}

INSTANTIATE_TEST_SUITE_P(
    cases, unsaved_target,
    ::testing::Values(
        unsaved_case{"an_earlier_sessions_work", [](const std::string& d) {
            write_file(d + "/student.unsaved.txt", "earlier work\n");
        }, "student.unsaved.2.txt"},
        unsaved_case{"two_earlier_sessions_work", [](const std::string& d) {
            write_file(d + "/student.unsaved.txt", "earlier work\n");
            write_file(d + "/student.unsaved.2.txt", "later work\n");
        }, "student.unsaved.3.txt"},
        unsaved_case{"a_link_to_another_file", [](const std::string& d) {
            std::filesystem::create_symlink("victim", d + "/student.unsaved.txt");
        }, "student.unsaved.2.txt"},
        unsaved_case{"a_dangling_link", [](const std::string& d) {
            std::filesystem::create_symlink("nowhere", d + "/student.unsaved.txt");
        }, "student.unsaved.2.txt"},
        unsaved_case{"a_folder", [](const std::string& d) {
            std::filesystem::create_directory(d + "/student.unsaved.txt");
        }, "student.unsaved.2.txt"},
        unsaved_case{"a_register_that_is_a_device", [](const std::string& d) {
            std::filesystem::create_symlink("/dev/null", d + "/student.txt");
        }, "student.unsaved.txt"},
        unsaved_case{"a_register_that_is_a_folder", [](const std::string& d) {
            std::filesystem::create_directory(d + "/student.txt");
            std::filesystem::permissions(d + "/student.txt", static_cast<std::filesystem::perms>(01777));
        }, "student.unsaved.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

// Loads that fail again and again over the same unsaved work keep it once.
TEST_F(session, the_same_work_is_kept_once)
{
    outcome o = run_program(dir, "4\n1\n" + one + "1\n1\n1\n8\n");
    // Each load names the register it did not find.
    const std::string missing = kept_notice + "未找到student.txt\n";
    EXPECT_EQ(o.err, missing + missing + missing + kept_notice);
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"student.unsaved.txt"});
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), saved(one));
}

// Work changed between two such loads, if only in a value's last byte, is
// kept again, beside the first copy.
TEST_F(session, work_changed_between_loads_is_kept_again)
{
    outcome o = run_program(dir, "4\n1\n" + one + "1\n3\n7\n7\nz@q.coo\n1\n8\n");
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), saved(one));
    EXPECT_EQ(read_file(dir + "/student.unsaved.2.txt"), saved("7 张三 19 男 2004.05 北京 138 z@q.coo\n"));
}

// A register that is another user's link in a shared folder: the work kept
// apart stays the operator's, with a new file's mode, not the mode and
// owner of the file the link points at.
TEST_F(session, a_planted_register_link_gives_the_kept_work_no_owner_or_mode)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "planting another user's link needs root, as CI has";
    std::filesystem::permissions(dir, static_cast<std::filesystem::perms>(01777));
    write_file(dir + "/theirs", first);
    ASSERT_EQ(chown((dir + "/theirs").c_str(), 65534, 65534), 0);
    std::filesystem::permissions(dir + "/theirs", static_cast<std::filesystem::perms>(0666));
    std::filesystem::create_symlink("theirs", dir + "/student.txt");
    ASSERT_EQ(lchown((dir + "/student.txt").c_str(), 65534, 65534), 0);
    outcome o = run_program(dir, "4\n1\n" + one + "8\n");
    EXPECT_EQ(o.err, kept_notice);
    struct stat st;
    ASSERT_EQ(stat((dir + "/student.unsaved.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 07777, (0666 & ~mask) | 0600);
}

// Standard streams closed by whoever started the program: the session runs
// as with /dev/null there, and never takes a file of its own for them.
// Starts the built program in dir, its input from the file "in" there and
// its other streams as they are, once wire has set up the rest in the child.
pid_t spawn(const std::string& dir, const std::function<void()>& wire = [] {})
{
    return launch(dir, {}, [&] {
        int in = open("in", O_RDONLY);
        dup2(in, 0);
        close(in);
        wire();
    });
}

struct closed_case {
    const char* name;
    std::vector<int> fds;
};

void PrintTo(const closed_case& c, std::ostream* os) { *os << c.name; }

class closed_streams : public session, public ::testing::WithParamInterface<closed_case> {};

TEST_P(closed_streams, change_nothing_but_the_dialogue)
{
    write_file(dir + "/in", "4\n1\n" + one + "7\n4\n1\n" + first + "7\n8\n");
    int st = reap(spawn(dir, [] {
        for (int fd : GetParam().fds)
            close(fd);
    }));
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
    bool read_input = std::find(GetParam().fds.begin(), GetParam().fds.end(), 0) == GetParam().fds.end();
    EXPECT_EQ(read_file(dir + "/student.txt"), read_input ? first + one : "");
}

INSTANTIATE_TEST_SUITE_P(
    cases, closed_streams,
    ::testing::Values(closed_case{"input", {0}}, closed_case{"input_and_output", {0, 1}},
                      closed_case{"output_and_errors", {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

// A register whose listing, or export, is more than a pipe holds.
std::string crowded()
{
    std::string file;
    for (int k = 0; k < 900; ++k)
        file += "s" + std::to_string(k) + " 学生 20 女 2004.12 江苏省南京市鼓楼区 13800000000 s@x.cn\n";
    return file;
}

// Waits until the pipe read at fd is full (to within a page, its unit),
// so whatever writes to it is stuck.
::testing::AssertionResult filled(int fd)
{
    int room = fcntl(fd, F_GETPIPE_SZ) - 4096, held = 0;
    for (int k = 0; k < 500 && held <= room; ++k, usleep(10000))
        if (ioctl(fd, FIONREAD, &held) != 0)
            return ::testing::AssertionFailure() << "FIONREAD";
    if (held <= room)
        return ::testing::AssertionFailure() << "the pipe never filled";
    return ::testing::AssertionSuccess();
}

TEST_F(session, a_signal_while_output_is_blocked_still_keeps_the_work)
{
    write_file(dir + "/student.txt", crowded());
    std::string input = "1\n4\n1\n" + one;
    for (int k = 0; k < 20; ++k)
        input += "6\n"; // far more than a pipe holds
    write_file(dir + "/in", input);
    int p[2];
    ASSERT_EQ(pipe(p), 0); // never read, by the dialogue nor by the notice
    pid_t pid = spawn(dir, [&] {
        dup2(p[1], 1);
        dup2(p[1], 2);
    });
    close(p[1]);
    // Stuck writing the listings: the add is done by then, as the first
    // listing comes after it.
    ASSERT_TRUE(filled(p[0]));
    kill(pid, SIGTERM);
    int st = reap(pid);
    close(p[0]);
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGTERM) << st;
    EXPECT_NE(read_file(dir + "/student.unsaved.txt").find(one), std::string::npos);
}

// Starts an export to standard output on a pipe that nobody reads yet and
// waits until the export is stuck on it; fd is the pipe's end to read. A
// group of its own, whose parent is in another: a stop stops it even where
// the test's own group is orphaned (as under nohup), which would discard it.
pid_t stuck_export(const std::string& dir, int& fd)
{
    int p[2];
    if (pipe(p) != 0)
        return -1;
    pid_t pid = launch(dir, {STUDENT_EXE, "--export", "-"}, [&] {
        setpgid(0, 0);
        dup2(p[1], 1);
    });
    close(p[1]);
    fd = p[0];
    return filled(fd) ? pid : -1;
}

// An export to standard output that nobody reads has nothing to keep:
// each request to end ends it at once, as it would end any filter.
TEST_F(session, an_export_to_an_output_nobody_reads_ends_on_a_signal)
{
    write_file(dir + "/student.txt", crowded());
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        int fd = -1;
        pid_t pid = stuck_export(dir, fd);
        ASSERT_GT(pid, 0) << "the pipe never filled";
        kill(pid, sig);
        int st = reap(pid);
        close(fd);
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == sig) << sig << ": " << st;
    }
    EXPECT_EQ(names_in(dir), std::vector<std::string>{"student.txt"});
}

// A stop and continue, or a resize, while the export waits for its reader
// cost it nothing: it arrives whole once read.
TEST_F(session, an_export_to_an_output_read_late_survives_a_stop_and_a_resize)
{
    write_file(dir + "/student.txt", crowded());
    outcome whole = run_program(dir, "", {"--export", "-"});
    for (int sig : {SIGTSTP, SIGWINCH}) {
        int fd = -1;
        pid_t pid = stuck_export(dir, fd);
        ASSERT_GT(pid, 0) << "the pipe never filled";
        kill(pid, sig);
        int st = 0;
        for (int k = 0; sig == SIGTSTP && k < 500 && waitpid(pid, &st, WNOHANG | WUNTRACED) == 0; ++k)
            usleep(10000);
        if (sig == SIGTSTP) {
            ASSERT_TRUE(WIFSTOPPED(st)) << "never stopped: " << st;
        }
        kill(pid, SIGCONT);
        std::string got;
        st = await_end(pid, 5000, fd, &got);
        char buf[4096];
        for (ssize_t r; (r = read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(r));
        close(fd);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << sig << ": " << st;
        EXPECT_EQ(got, whole.raw) << sig;
    }
}

// An export to standard output that cannot be written says so, and so
// does one whose standard output was closed.
TEST_F(session, an_export_to_an_output_it_cannot_write_says_it_failed)
{
    write_file(dir + "/student.txt", first);
    for (const char* to : {"> /dev/full", ">&-"}) {
        std::string cmd = std::string("exec \"$0\" \"$@\" ") + to;
        outcome o = finish_program(start_program(dir, "", {"sh", "-c", cmd}, {"--export", "-"}));
        EXPECT_EQ(o.status, 1) << to;
        EXPECT_EQ(o.err, "导出失败,无法写入标准输出\n") << to;
    }
}

class signalled : public session, public ::testing::WithParamInterface<int> {};

TEST_P(signalled, at_a_prompt_keeps_the_work_and_ends_as_the_signal_does)
{
    // Input on a pipe that stays open, so the program waits at a prompt.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string input = "4\n1\n" + one;
    ASSERT_EQ(write(p[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    std::string out = dir + "/out";
    pid_t pid = spawn(dir, [&] {
        dup2(p[0], 0);
        close(p[1]);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open("/dev/null", O_WRONLY), 2);
    });
    close(p[0]);
    // Waits until the menu after the add has been shown: output is sent
    // only when the program waits for input, so the add is done by then.
    for (int k = 0; k < 500 && read_file(out).find("录入完毕") == std::string::npos; ++k)
        usleep(10000);
    kill(pid, GetParam());
    int st = reap(pid);
    close(p[1]);
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == GetParam()) << st;
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), saved(one));
}

INSTANTIATE_TEST_SUITE_P(signals, signalled, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

TEST_F(session, a_closed_output_pipe_does_not_stop_a_save)
{
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    close(p[0]); // nobody reads what the program writes
    write_file(dir + "/in", "6\n4\n1\n" + one + "6\n7\n8\n");
    pid_t pid = spawn(dir, [&] { dup2(p[1], 1); });
    close(p[1]);
    int st = reap(pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << st;
    EXPECT_EQ(read_file(dir + "/student.txt"), one);
}

TEST_F(session, a_huge_token_costs_no_more_memory_than_a_normal_session)
{
#ifdef STUDENT_SANITIZED
    GTEST_SKIP() << "the sanitizers' own bookkeeping swamps a difference of a few KiB";
#endif
    // The input is written in pieces: the child is forked from this process
    // and its peak counts what this process held.
    auto peak_kib = [&](const std::string& before, std::size_t mib, const std::string& after) {
        std::FILE* f = std::fopen((dir + "/in").c_str(), "w");
        std::string piece(1 << 20, '7');
        std::fputs(before.c_str(), f);
        for (std::size_t k = 0; k < mib; ++k)
            std::fwrite(piece.data(), 1, piece.size(), f);
        std::fputs(after.c_str(), f);
        std::fclose(f);
        pid_t pid = spawn(dir, [] { dup2(open("/dev/null", O_WRONLY), 1); });
        int st = 0;
        rusage ru{};
        wait4(pid, &st, 0, &ru);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
        return ru.ru_maxrss;
    };
    long normal = peak_kib("6\n", 0, "\n8\n");
    for (const char* at : {"", "4\n1\n"}) {
        long huge = peak_kib(at, 100, "\n8\n");
        EXPECT_LE(huge, normal + 1024) << "after \"" << at << "\"";
    }
}

} // namespace
