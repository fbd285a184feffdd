// The built program at a real (pseudo-)terminal: the UTF-8 bridge, and a
// pause that waits for a key without eating typed-ahead answers.
#include "support.h"

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <cstdlib>
#include <cstring>
#include <termios.h>
#include <vector>
#include <iconv.h>
#include <ctime>
#include <poll.h>
#include <functional>
#include <pty.h>
#include <sstream>
#include <utmp.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string utf8(std::u8string_view s)
{
    return {reinterpret_cast<const char*>(s.data()), s.size()};
}

const std::string menu_prompt = utf8(u8"请选择菜单编号:");
const std::string pause_prompt = utf8(u8"请按任意键继续. . .");

class terminal : public scratch {
public:
    // The texts awaited, in the terminal's encoding.
    struct texts {
        std::string menu, age, pause;
        std::string key = "x"; // that ends a pause
    };

    // One turn of a dialogue: what the program shows, then the keys typed
    // once it has.
    struct turn {
        std::string shows;
        std::string keys;
    };

protected:
    // Starts the program at a new terminal, under the command prefix when
    // one is given, with the environment's locale (C.UTF-8 unless env sets
    // another) and a terminal type that has the usual keys.
    void start(const char* arg = nullptr, const std::vector<std::string>& env = {},
               const std::vector<std::string>& prefix = {})
    {
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        std::vector<std::string> argv = prefix;
        argv.push_back(STUDENT_EXE);
        if (arg)
            argv.push_back(arg);
        pid = launch(dir, argv, [&] {
            close(master);
            if (login_tty(slave) != 0)
                _exit(126);
            setenv("LC_ALL", "C.UTF-8", 1);
            setenv("TERM", "xterm", 1);
            for (const std::string& e : env)
                putenv(const_cast<char*>(e.c_str()));
        });
        close(slave);
        ASSERT_GE(pid, 0);
    }

    void TearDown() override
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0)
            close(master);
        scratch::TearDown();
    }

    // Reads until the output holds text (true) or ms pass (false).
    bool read_until(const std::string& text, int ms)
    {
        long end = now_ms() + ms;
        while (seen.find(text, from) == std::string::npos) {
            if (now_ms() >= end)
                return false;
            drain(20);
        }
        from = seen.find(text, from) + text.size();
        return true;
    }

    // Plays the turns in order: waits (up to ms) for each text, then types
    // its keys. An empty text is there at once: its keys go straight away.
    ::testing::AssertionResult play(const std::vector<turn>& turns, int ms = 5000)
    {
        for (std::size_t k = 0; k < turns.size(); ++k) {
            if (!read_until(turns[k].shows, ms))
                return ::testing::AssertionFailure() << "turn " << k << " never showed \""
                                                     << turns[k].shows << "\": " << seen;
            if (!typed(turns[k].keys))
                return ::testing::AssertionFailure() << "turn " << k << ": the keys were refused";
        }
        return ::testing::AssertionSuccess();
    }

    // Takes what the program wrote within ms, so it never blocks on a full
    // terminal.
    void drain(int ms)
    {
        pollfd p{master, POLLIN, 0};
        char buf[4096];
        ssize_t r = 0;
        int ready = poll(&p, 1, ms);
        if (ready == 1 && (r = read(master, buf, sizeof buf)) > 0)
            seen.append(buf, static_cast<std::size_t>(r));
        else if (ready == 1)
            usleep(static_cast<useconds_t>(ms) * 1000); // closed: poll would not wait
    }

    // Takes everything the program wrote, once it has ended.
    void drain_rest()
    {
        pollfd p{master, POLLIN, 0};
        char buf[4096];
        ssize_t r;
        while (poll(&p, 1, 1000) == 1 && (r = read(master, buf, sizeof buf)) > 0)
            seen.append(buf, static_cast<std::size_t>(r));
    }

    bool typed(const std::string& keys)
    {
        return write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }

    void type(const std::string& keys) { ASSERT_TRUE(typed(keys)); }

    // The exit status (-2 when a signal ended it), or -1 if the program is
    // still running after ms.
    int wait_exit(int ms)
    {
        int st = await_end(pid, ms, master, &seen);
        if (st == -1)
            return -1;
        exited = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -2;
    }

    // Whether the program, with everything it wrote taken, waits for input
    // for good (in a read, or a poll without a time limit): what it does
    // at a pause or a prompt with nothing more to answer. False once it has
    // ended or if it never settles within 5 s.
    bool waits_for_input()
    {
        for (long end = now_ms() + 5000; now_ms() < end; drain(2)) {
            if (wait_exit(0) != -1)
                return false;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 0) == 1)
                continue;
            std::vector<std::string> call = in_call();
            // poll's time limit is an int: -1 arrives as its 32 bits.
            if (call[0] == "0" || (call[0] == "7" && (call[3] == "0xffffffff" ||
                                                      call[3] == "0xffffffffffffffff")))
                return true;
        }
        return false;
    }

    // Waits (up to 5 s, reading nothing) until the program is held in a
    // write to the terminal, as when nobody reads what it shows.
    bool waits_to_write()
    {
        for (long end = now_ms() + 5000; now_ms() < end; usleep(1000))
            if (std::string nr = in_call()[0]; nr == "1" || nr == "20")
                return true;
        return false;
    }

    // The system call the program waits in, and its arguments; "running"
    // while it runs.
    std::vector<std::string> in_call()
    {
        std::istringstream line(read_file("/proc/" + std::to_string(pid) + "/syscall"));
        std::vector<std::string> call(4);
        for (std::string& field : call)
            line >> field;
        return call;
    }

    // <chrono> cannot be used here: its micro sign has no GBK form.
    static long now_ms()
    {
        timespec t;
        clock_gettime(CLOCK_MONOTONIC, &t);
        return t.tv_sec * 1000 + t.tv_nsec / 1000000;
    }

    // From the menu: saves, passes the pause and leaves, as an operator does.
    void save_and_leave()
    {
        ASSERT_TRUE(play({{menu_prompt, "7\n"}, {pause_prompt, ""}}));
        EXPECT_TRUE(waits_for_input()) << "the pause after the save did not wait";
        EXPECT_FALSE(read_until(menu_prompt, 0)) << "the pause after the save did not wait";
        type("x");
        ASSERT_TRUE(play({{menu_prompt, "8\n"}}));
        EXPECT_EQ(wait_exit(5000), 0) << seen;
    }

    // The mode of the program's side of the terminal, where its mode lives.
    termios program_mode()
    {
        termios t{};
        int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave, 0);
        EXPECT_EQ(tcgetattr(slave, &t), 0);
        close(slave);
        return t;
    }

    // With 6 typed at the menu's prompt: ends that line, passes the
    // listing's pause and leaves.
    void list_and_leave()
    {
        type("\r");
        ASSERT_TRUE(play({{pause_prompt, "x"}, {menu_prompt, "8\r"}}));
        EXPECT_EQ(wait_exit(5000), 0) << seen;
    }

    // Gives the terminal a new size; the program gets SIGWINCH.
    void resize(unsigned short rows, unsigned short cols)
    {
        winsize ws{rows, cols, 0, 0};
        ASSERT_EQ(ioctl(master, TIOCSWINSZ, &ws), 0);
    }

    // Waits (up to 5 s, taking what the terminal shows meanwhile) until the
    // program has its terminal out of line mode: the pause or the editor
    // waits for keys.
    void await_keys()
    {
        for (int k = 0; k < 1000 && (program_mode().c_lflag & ICANON); ++k)
            drain(5);
    }

    // At a prompt: waits for the line editor to take the terminal, when the
    // program has one; without it the terminal's line mode reads the answer
    // and there is nothing to wait for.
    void await_editor()
    {
        if (editor)
            await_keys();
    }

    // Writes keys however many there are, taking what the program shows
    // meanwhile, so neither side waits for the other for good.
    void paste(const std::string& keys)
    {
        std::size_t at = 0;
        while (at < keys.size()) {
            pollfd p{master, POLLIN | POLLOUT, 0};
            ASSERT_EQ(poll(&p, 1, 5000), 1) << "the program took nothing for 5 s";
            if (p.revents & POLLIN)
                drain(0);
            if (!(p.revents & POLLOUT))
                continue;
            ssize_t w = write(master, keys.data() + at, std::min<std::size_t>(keys.size() - at, 4096));
            ASSERT_GT(w, 0);
            at += static_cast<std::size_t>(w);
        }
    }

    // Waits (up to 5 s, taking what the terminal shows meanwhile) until the
    // file the dialogue goes to holds the pause, or the program has ended
    // without one.
    void await_pause_in(const std::string& file)
    {
        for (int k = 0; k < 1000 && !ended() && read_file(file).find("请按任意键继续") == std::string::npos; ++k)
            drain(5);
    }

    // Whether the program has ended; it is left to be reaped as usual.
    bool ended()
    {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid;
    }

    // The command prefix that starts the program with its line editing
    // library hidden (as on a system without it), after running setup in the
    // shell; empty when this machine cannot (it needs root, as CI has).
    static std::vector<std::string> without_editor(const std::string& setup = "true",
                                                   const std::string& stand_in = "/dev/null")
    {
        return without_library("libedit.so.2", setup, stand_in);
    }

    // Starts the program without its line editor, after setup (as
    // without_editor takes it); false when this machine cannot hide it.
    bool start_without_editor(const std::string& setup = "true",
                              const std::string& stand_in = "/dev/null")
    {
        std::vector<std::string> prefix = without_editor(setup, stand_in);
        if (prefix.empty())
            return false;
        editor = false;
        start(nullptr, {}, prefix);
        return true;
    }

    // Starts the program with its line editor, or with it hidden; false
    // when this machine cannot hide it.
    bool start_with_editor(bool with)
    {
        if (!with)
            return start_without_editor();
        start();
        return true;
    }

    // The environment that selects the zh_CN locale with the given character
    // map, built beside the program for every test of this build (each runs
    // in a process of its own, two at a time under ctest -j2); empty if this
    // machine cannot build it. GB18030 is built from the GBK map under that
    // name: the program only asks the name, and the full map takes half a
    // minute to build.
    static std::vector<std::string> zh_locale(const std::string& charmap)
    {
        std::string locales = std::string(STUDENT_EXE);
        locales = locales.substr(0, locales.rfind('/')) + "/test-locales";
        std::string name = "zh_CN." + charmap, map = charmap, make;
        if (charmap == "GB18030") {
            map = locales + "/" + name + ".charmap";
            make = "zcat /usr/share/i18n/charmaps/GBK.gz | sed "
                   "'s/^<code_set_name> GBK$/<code_set_name> GB18030/' > " + map + " && ";
        }
        // Built under another name and renamed, so a build cut short is
        // never taken for a whole one; the lock makes the rest wait for it.
        make += "localedef -f " + map + " -i zh_CN " + locales + "/new." + name +
                " > /dev/null 2>&1; mv " + locales + "/new." + name + " " + locales + "/" + name;
        std::string once = "mkdir -p " + locales + " && exec 9> " + locales + "/lock && flock 9 && "
                           "{ test -d " + locales + "/" + name + " || { " + make + "; }; } && "
                           "test -d " + locales + "/" + name;
        if (std::system(once.c_str()) != 0)
            return {};
        return {"LOCPATH=" + locales, "LC_ALL=" + name};
    }

    // Adds one student, typing keys for the name (after doing first, once
    // the editor waits for them), saves and leaves.
    void add_with_name(const std::string& keys, const texts& t, const std::string& rest,
                       const std::function<void()>& first = [] {})
    {
        ASSERT_TRUE(play({{t.menu, "4\r"}, {":\r\n", "1\r"}, {":\r\n", "7\r"}, {":\r\n", ""}}));
        // Keys typed in the instant between a prompt and the editor taking
        // the terminal go through its line mode first; no hand is that fast.
        await_editor();
        first();
        type(keys + "\r");
        // The pause after the add, a save, its pause.
        ASSERT_TRUE(play({{t.age, rest + "\r"}, {t.pause, t.key}, {t.menu, "7\r"},
                          {t.pause, t.key}, {t.menu, "8\r"}}));
        EXPECT_EQ(wait_exit(5000), 0) << seen;
    }

    pid_t pid = -1;
    int master = -1;
    bool exited = false;
    bool editor = true; // the program has its line editor
    std::string seen;
    std::size_t from = 0;
};

std::string gbk_to_utf8(const std::string& gbk)
{
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    std::string out(gbk.size() * 2, '\0');
    char* in = const_cast<char*>(gbk.data());
    std::size_t inleft = gbk.size();
    char* o = out.data();
    std::size_t oleft = out.size();
    iconv(cd, &in, &inleft, &o, &oleft);
    iconv_close(cd);
    out.resize(out.size() - oleft);
    return out;
}

std::string without_cr(const std::string& s)
{
    std::string t;
    for (char c : s)
        if (c != '\r')
            t += c;
    return t;
}

TEST_F(terminal, shows_the_menu_in_utf8_and_clears_the_screen)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, ""}}));
    EXPECT_NE(seen.find(utf8(u8"\t\t\t      5.按学号删除信息       ")), std::string::npos);
    ASSERT_TRUE(play({{"", "0\n"}, {utf8(u8"请在1-8之间选择"), ""}, {pause_prompt, "k"},
                      {"\x1b[H\x1b[2J\x1b[3J", ""}, {menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

TEST_F(terminal, the_pause_waits_for_a_key)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "6\n"}, {pause_prompt, ""}}));
    resize(30, 100); // a resize is no key
    EXPECT_TRUE(waits_for_input()) << seen;
    EXPECT_FALSE(read_until(menu_prompt, 0)) << "the menu came back without a key";
    type(" ");
    EXPECT_TRUE(play({{menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// What the operator types at the menu before the pause comes: the pause
// must still wait for a key, and what was typed must still be answered.
class typed_ahead : public terminal, public ::testing::WithParamInterface<std::string> {};

TEST_P(typed_ahead, survives_the_pause_and_ends_the_session)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, GetParam()}, {pause_prompt, ""}}));
    EXPECT_TRUE(waits_for_input()) << "ended without waiting for a key";
    EXPECT_FALSE(read_until(menu_prompt, 0)) << "went on without waiting for a key";
    type("x");
    type("\n"); // ends a line begun before the pause
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

std::string typed_name(const ::testing::TestParamInfo<std::string>& info)
{
    static const char* const names[] = {"same_line", "next_line", "end_of_input", "unfinished_line"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(keys, typed_ahead,
                         ::testing::Values("6 8\n",    // answers on the line already read
                                           "6\n8\n",   // a whole line still in the terminal
                                           "6\n\x04",  // Ctrl-D, still in the terminal
                                           "6\n8"),     // a line not yet ended

                         typed_name);

// The register named (none: student.txt) and the recovery file's name as
// the terminal shows it, which is the name as it was given.
struct kept_as {
    const char* name;
    std::string reg;
    std::string unsaved;
};

void PrintTo(const kept_as& k, std::ostream* os) { *os << k.name; }

class notice_at_the_end : public terminal, public ::testing::WithParamInterface<kept_as> {};

TEST_P(notice_at_the_end, follows_the_prompt_it_ended_and_names_the_file_as_given)
{
    start(GetParam().reg.empty() ? nullptr : GetParam().reg.c_str());
    // An add with the end of input typed behind it: the next menu's prompt
    // is never answered, and the work is kept unsaved.
    ASSERT_TRUE(play({{menu_prompt, "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n") + "\x04"},
                      {pause_prompt, "x"}, {menu_prompt, ""}}));
    EXPECT_TRUE(read_until(utf8(u8"有未保存的修改,已另存为") + GetParam().unsaved + "\r\n", 5000)) << seen;
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

INSTANTIATE_TEST_SUITE_P(registers, notice_at_the_end,
                         ::testing::Values(kept_as{"default", "", "student.unsaved.txt"},
                                           kept_as{"named_in_chinese", utf8(u8"二班.txt"),
                                                   utf8(u8"二班.unsaved.txt")},
                                           // A character GBK cannot hold.
                                           kept_as{"named_with_an_emoji", utf8(u8"二班😀.txt"),
                                                   utf8(u8"二班😀.unsaved.txt")}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(terminal, help_arrives_in_utf8)
{
    start("--help");
    EXPECT_TRUE(read_until(utf8(u8"数据默认在启动时所在文件夹的 student.txt 中"), 5000)) << seen;
    EXPECT_EQ(wait_exit(5000), 0);
}

TEST_F(terminal, a_refused_argument_is_told_in_utf8)
{
    start("--bogus"); // standard error is the terminal too
    EXPECT_TRUE(read_until(utf8(u8"无法识别的参数 \"--bogus\"\r\n用法：student"), 5000)) << seen;
    EXPECT_EQ(wait_exit(5000), 2);
}

TEST_F(terminal, an_import_refused_is_told_in_utf8_once)
{
    start(nullptr, {}, {"sh", "-c", "exec \"$0\" --import none.csv"});
    EXPECT_TRUE(read_until(utf8(u8"无法读取none.csv\r\n"), 5000)) << seen;
    EXPECT_EQ(wait_exit(5000), 1);
}

TEST_F(terminal, a_refused_argument_told_to_a_file_follows_the_locale)
{
    // Standard output is the terminal, standard error a file, the locale
    // UTF-8: the file is read in the locale's encoding, not the dialogue's.
    start("--bogus", {}, {"sh", "-c", "exec 2>err; exec \"$0\" \"$1\""});
    EXPECT_EQ(wait_exit(5000), 2);
    EXPECT_NE(read_file(dir + "/err").find(utf8(u8"无法识别的参数 \"--bogus\"")), std::string::npos)
        << read_file(dir + "/err");
}

TEST_F(terminal, a_notice_told_to_a_file_in_a_session_is_gbk_like_its_dialogue)
{
    // Unlike a command's words, the menu's notices in a file keep the
    // program's own bytes, whatever the terminal beside it speaks.
    start(nullptr, {}, {"sh", "-c", "exec 2>err; exec \"$0\""});
    ASSERT_TRUE(play({{menu_prompt, "1\r"}, {pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    EXPECT_EQ(wait_exit(5000), 0);
    EXPECT_EQ(read_file(dir + "/err").rfind("未找到student.txt\n", 0), 0u) << read_file(dir + "/err");
}

TEST_F(terminal, a_long_listing_arrives_whole_in_utf8)
{
    // Far more than one output buffer, so flushes cut characters in two.
    std::string file, four = "欧";
    for (int k = 0; k < 500; ++k)
        file += std::to_string(k) + " 欧阳张伟" + std::to_string(k % 10) + " 19 男 二〇〇五年 " +
                "北京市海淀区中关村" + std::to_string(k) + "号 一三八 电邮\n" + std::to_string(k) +
                "x " + four + four + four + four + four + " 20 女 " + four + " " + four + four +
                four + four + four + four + four + " 1 e\n";
    write_file(dir + "/student.txt", file);
    outcome piped = run_program(dir, "1\n6\n8\n");
    std::string head = "所有学生的信息为:\n";
    std::size_t from_at = piped.out.find(head);
    std::size_t to_at = piped.out.find(pause_text, from_at);
    ASSERT_NE(to_at, std::string::npos);
    std::string listing = gbk_to_utf8(piped.out.substr(from_at, to_at - from_at));

    start();
    ASSERT_TRUE(play({{menu_prompt, "1\n"}, {pause_prompt, "x"}, {menu_prompt, ""}}));
    std::size_t mark = seen.size();
    type("6\n");
    // Nobody reads, so the program waits to write; resizes meanwhile
    // interrupt those writes, which must go on where they were.
    ASSERT_TRUE(waits_to_write());
    for (unsigned short cols : {100, 90, 80}) {
        // The first resize ends the write with what it took; the second
        // finds the next one with nothing taken yet, which the system
        // reports as interrupted.
        std::vector<std::string> before = in_call();
        resize(30, cols);
        for (long end = now_ms() + 300; now_ms() < end && in_call() == before;)
            usleep(1000);
        ASSERT_TRUE(waits_to_write()) << "the write did not go on";
        resize(31, cols);
        ASSERT_TRUE(waits_to_write()) << "the write did not go on";
        drain(1); // a little at a time: writes go on partly
        ASSERT_TRUE(waits_to_write());
    }
    ASSERT_TRUE(read_until(pause_prompt, 10000));
    std::string shown = without_cr(seen.substr(mark));
    EXPECT_NE(shown.find(listing + pause_prompt), std::string::npos);
    ASSERT_TRUE(play({{"", "x"}, {menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0);
}

TEST_F(terminal, what_the_operator_types_is_stored_as_gbk)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n")},
                      {pause_prompt, "x"}}));
    save_and_leave();
    EXPECT_EQ(read_file(dir + "/student.txt"), "7 张三 19 男 2004.05 北京 138 z@q.com\n");
}

TEST_F(terminal, a_long_paste_across_the_pauses_of_adds_is_stored_exactly)
{
    // Forty adds of one student each, pasted at once: several KB, more than
    // the terminal holds, with a pause after every add.
    std::string paste, file;
    for (int k = 0; k < 40; ++k) {
        std::string r = std::to_string(100 + k) + " 欧阳学生" + std::to_string(k) +
                        " 20 女 2004.12 江苏省南京市鼓楼区汉口路" + std::to_string(k) +
                        "号 13800000000 student" + std::to_string(k) + "@example.edu.cn\n";
        paste += "4\n1\n" + r;
        file += r;
    }
    std::string keys = gbk_to_utf8(paste);
    ASSERT_GT(keys.size(), 4096u); // more than a terminal's line buffer
    start();
    ASSERT_TRUE(play({{menu_prompt, keys}}));
    for (int k = 0; k < 40; ++k) {
        ASSERT_TRUE(read_until(pause_prompt, 10000)) << "pause " << k;
        EXPECT_TRUE(waits_for_input()) << "a pasted byte ended pause " << k;
        EXPECT_FALSE(read_until(menu_prompt, 0)) << "a pasted byte ended pause " << k;
        type("x");
    }
    save_and_leave();
    EXPECT_EQ(read_file(dir + "/student.txt"), file);
}

TEST_F(terminal, control_bytes_in_stored_values_are_never_sent_to_the_terminal)
{
    // A window title, a clipboard write and a cursor move planted in a file.
    // And a C1 control (U+009D, which starts an operating system command
    // on some terminals) as GB18030 bytes, which are no GBK character. And
    // a byte that is no GBK at all, with what follows still converted.
    write_file(dir + "/student.txt",
               "1 a\x1b]0;owned\x07 19 m \x1b]52;c;ZXZpbA==\x07 b\x1b[2J \xff" "中 \x81\x30\x83\x39" "e\n");
    start();
    ASSERT_TRUE(play({{menu_prompt, "1\n"}, {pause_prompt, "x"}, {menu_prompt, ""}}));
    std::size_t mark = seen.size();
    ASSERT_TRUE(play({{"", "6\n2\n1\n1\n3\n"}, {pause_prompt, "x"},
                      {pause_prompt, ""}})); // the second after the query
    std::string shown = seen.substr(mark);
    EXPECT_EQ(shown.find("\x1b]"), std::string::npos);
    EXPECT_EQ(shown.find("\x07"), std::string::npos);
    EXPECT_NE(shown.find("a?]0;owned?"), std::string::npos) << shown;
    EXPECT_NE(shown.find("b?[2J"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\xc2\x9d"), std::string::npos) << shown;
    EXPECT_NE(shown.find("?0?9e"), std::string::npos) << shown;
    EXPECT_NE(shown.find("?" + utf8(u8"中")), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\xff"), std::string::npos) << shown;
    ASSERT_TRUE(play({{"", "x"}, {menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0);
}

// The keys that signal keep their meaning at a pause: both Ctrl-C and
// Ctrl-\ end the session with the work kept.
class key_at_the_pause : public terminal, public ::testing::WithParamInterface<int> {};

TEST_P(key_at_the_pause, signals_as_at_a_prompt)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n")},
                      {pause_prompt, ""}}));
    await_keys();
    type(GetParam() == SIGINT ? "\x03" : "\x1c");
    int st = 0;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    exited = true;
    EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == GetParam()) << "taken as a key: " << seen;
    EXPECT_EQ(program_mode().c_lflag & (ICANON | ECHO | ISIG), tcflag_t{ICANON | ECHO | ISIG});
    EXPECT_TRUE(exists(dir + "/student.unsaved.txt"));
}

INSTANTIATE_TEST_SUITE_P(keys, key_at_the_pause, ::testing::Values(SIGINT, SIGQUIT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

TEST_F(terminal, ctrl_z_at_a_pause_stops_and_fg_shows_the_pause_again)
{
    start(nullptr, {}, {"bash", "-c", "set -m; \"$0\"; read -r; fg > /dev/null"});
    ASSERT_TRUE(play({{menu_prompt, "6\n"}, {pause_prompt, ""}}));
    await_keys();
    ASSERT_TRUE(play({{"", "\x1a"}, {"Stopped", ""}}));
    EXPECT_EQ(program_mode().c_lflag & (ICANON | ECHO | ISIG), tcflag_t{ICANON | ECHO | ISIG});
    type("\n");
    ASSERT_TRUE(read_until(pause_prompt, 5000)) << "the pause did not show again: " << seen;
    await_keys();
    // Shown again, it still waits for a key however the window changes.
    resize(30, 100);
    drain(100);
    EXPECT_EQ(seen.find(menu_prompt, from), std::string::npos) << "the stop was taken as the key";
    ASSERT_TRUE(play({{"", "x"}, {menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// A stop at a pause with the dialogue in a file: the terminal is standard
// input's, and its mode is given back there, so one key still ends the pause.
TEST_F(terminal, a_stop_at_a_pause_with_the_dialogue_in_a_file_keeps_the_pause_a_key)
{
    start(nullptr, {}, {"sh", "-c", "exec >out; exec \"$0\""});
    type("6\n");
    await_keys();
    ASSERT_FALSE(program_mode().c_lflag & ICANON) << "the pause did not take the terminal";
    kill(pid, SIGTSTP); // not stopped: no shell controls this terminal
    drain(300);
    const std::size_t shown = read_file(dir + "/out").size();
    type("x");
    for (int k = 0; k < 400 && read_file(dir + "/out").size() == shown; ++k)
        drain(5);
    EXPECT_GT(read_file(dir + "/out").size(), shown) << "the key did not end the pause";
    type("\n8\n");
    EXPECT_EQ(wait_exit(5000), 0) << read_file(dir + "/out");
}

// A paste of a whole mebibyte on one line, at the menu and at a pause: the
// line is cut with a bell, the cut word refused, and the session goes on.
TEST_F(terminal, a_mebibyte_on_one_line_is_cut_and_refused)
{
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000));
    await_keys(); // the editor has the terminal
    const std::string huge(1 << 20, '1');
    paste(huge + "\r");
    ASSERT_TRUE(read_until("\a", 5000)) << "no bell";
    ASSERT_TRUE(read_until(utf8(u8"请在1-8之间选择"), 20000)) << seen.substr(seen.size() - 200);
    ASSERT_TRUE(read_until(pause_prompt, 5000));
    await_keys();
    paste("x" + huge + "\r");
    ASSERT_TRUE(read_until(utf8(u8"请在1-8之间选择"), 20000)) << seen.substr(seen.size() - 200);
    ASSERT_TRUE(play({{pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen.substr(seen.size() - 200);
}

// A paste just past what the editor holds, with standard error in a file:
// the bell is the terminal's, and the cut answer is refused, never taken
// short (its first thousand bytes alone read as 8, the choice to leave).
TEST_F(terminal, a_paste_past_the_editors_cap_rings_at_the_terminal)
{
    start(nullptr, {}, {"sh", "-c", "exec 2>err; exec \"$0\""});
    ASSERT_TRUE(read_until(menu_prompt, 5000));
    await_keys();
    paste(std::string(999, '0') + "8" + std::string(100, '0') + "\r");
    ASSERT_TRUE(read_until("\a", 5000)) << "no bell";
    ASSERT_TRUE(read_until(utf8(u8"请在1-8之间选择"), 5000)) << seen.substr(seen.size() - 200);
    ASSERT_TRUE(play({{pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    EXPECT_EQ(wait_exit(5000), 0);
    EXPECT_EQ(read_file(dir + "/err"), "");
}

// The same typed before a pause, without Enter: the editor starts from it
// and takes it whole up to its cap, 8 as 1000 bytes; one byte more is cut
// with a bell and refused.
class begun_ahead : public terminal, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(begun_ahead, is_taken_whole_or_refused)
{
    bool cut = GetParam() > 1000;
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000));
    await_keys();
    paste("6\r" + std::string(999, '0') + "8" + std::string(GetParam() - 1000, '0'));
    ASSERT_TRUE(play({{pause_prompt, "x"}, {menu_prompt, ""}}));
    await_keys();
    type("\r");
    if (cut) {
        ASSERT_TRUE(play({{"\a", ""}, {utf8(u8"请在1-8之间选择"), ""}, {pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    }
    EXPECT_EQ(wait_exit(5000), 0) << seen.substr(seen.size() - 200);
    EXPECT_EQ(seen.find('\a') != std::string::npos, cut) << "the bell";
}

INSTANTIATE_TEST_SUITE_P(bytes, begun_ahead, ::testing::Values(1000, 1001));

// A signal while the pause or the line editor has the terminal out of line
// mode: the program ends as the signal says and leaves the terminal as it
// found it.
class out_of_line_mode : public terminal, public ::testing::WithParamInterface<int> {
protected:
    void signal_ends_it()
    {
        // A new terminal is in line mode with echo and signals.
        EXPECT_EQ(program_mode().c_lflag & ICANON, 0u) << "not waiting out of line mode";
        kill(pid, GetParam());
        int st = 0;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        exited = true;
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == GetParam()) << st;
        EXPECT_EQ(program_mode().c_lflag & (ICANON | ECHO | ISIG), tcflag_t{ICANON | ECHO | ISIG});
    }
};

TEST_P(out_of_line_mode, a_signal_while_an_answer_is_edited_leaves_the_terminal_as_it_was)
{
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000));
    await_keys(); // the editor has the terminal
    signal_ends_it();
}

TEST_P(out_of_line_mode, a_signal_in_the_pause_with_the_dialogue_in_a_file_leaves_the_terminal)
{
    start(nullptr, {}, {"sh", "-c", "exec >out; exec \"$0\""});
    type("6\n");
    await_pause_in(dir + "/out");
    await_keys();
    signal_ends_it();
}

TEST_P(out_of_line_mode, a_signal_in_the_pause_leaves_the_terminal_as_it_was)
{
    start();
    // An add, then a delete and a save typed ahead: neither may run once
    // the signal has come.
    ASSERT_TRUE(play({{menu_prompt, "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n") + "5\n7\n7\n"},
                      {pause_prompt, ""}}));
    await_keys();
    signal_ends_it();
    // Work is kept on every signal that ends a session, a quit too.
    EXPECT_TRUE(exists(dir + "/student.unsaved.txt"));
    EXPECT_FALSE(exists(dir + "/student.txt")) << "a save typed ahead ran after the signal";
    EXPECT_NE(read_file(dir + "/student.unsaved.txt").find("7 "), std::string::npos)
        << "a delete typed ahead ran after the signal";
}

// Whatever key ends the pause (a letter, an arrow key in either of its
// forms, a Chinese character), what came with it is kept.
class paste_at_the_pause : public terminal, public ::testing::WithParamInterface<std::string> {};

TEST_P(paste_at_the_pause, ends_it_with_its_first_key_and_keeps_the_rest)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "6\n"},
                      {pause_prompt, GetParam() + "4\n1\n" + utf8(u8"9 张三 19 男 2004.05 北京 138 z@q.com\n") + "7\n"},
                      {pause_prompt, "x"}, {pause_prompt, "x"}, {menu_prompt, "8\n"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
    EXPECT_EQ(read_file(dir + "/student.txt"), "9 张三 19 男 2004.05 北京 138 z@q.com\n");
}

std::string key_name(const ::testing::TestParamInfo<std::string>& info)
{
    static const char* const names[] = {"letter", "arrow", "arrow_in_keypad_mode", "ctrl_arrow",
                                        "chinese_character"};
    return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(keys, paste_at_the_pause,
                         ::testing::Values("x", "\x1b[D", "\x1bOD", "\x1b[1;5C", utf8(u8"中")), key_name);

INSTANTIATE_TEST_SUITE_P(signals, out_of_line_mode, ::testing::Values(SIGTERM, SIGHUP, SIGQUIT),
                         [](const auto& info) { return std::string(strsignal(info.param)); });

// Answers edited at the terminal as an operator would: each row types its
// keys at the name prompt of an add, and the name is stored as meant.
struct editing_case {
    const char* name;
    std::string keys; // in the terminal's encoding
    std::string stored; // GBK
};

void PrintTo(const editing_case& c, std::ostream* os) { *os << c.name; }

class line_editing : public terminal, public ::testing::WithParamInterface<editing_case> {};

const terminal::texts in_utf8{menu_prompt, utf8(u8"年龄:"), pause_prompt};

const std::string left = "\x1b[D", home = "\x1b[H", end_key = "\x1b[F", del = "\x1b[3~",
                  up = "\x1b[A";

TEST_P(line_editing, stores_the_answer_as_meant)
{
    start();
    add_with_name(gbk_to_utf8(GetParam().keys), in_utf8,
                  utf8(u8"19 男 2004.05 北京 138 z@q.com"));
    EXPECT_EQ(read_file(dir + "/student.txt"),
              "7 " + GetParam().stored + " 19 男 2004.05 北京 138 z@q.com\n");
}

INSTANTIATE_TEST_SUITE_P(
    keys, line_editing,
    ::testing::Values(
        editing_case{"arrow_and_backspace_inside_a_chinese_name", "张X丰" + left + "\x7f" + "三",
                     "张三丰"},
        editing_case{"delete_under_the_cursor", "张三X丰" + left + left + del, "张三丰"},
        editing_case{"home_and_end", "三" + home + "张" + end_key + "丰", "张三丰"},
        editing_case{"ctrl_u_drops_the_line", "李四\x15张三丰", "张三丰"},
        // As in a shell: Ctrl-U takes what lies left of the cursor, Ctrl-K
        // what lies right of it.
        editing_case{"ctrl_u_keeps_what_lies_right", "李四张三" + left + left + "\x15", "张三"},
        editing_case{"ctrl_k_keeps_what_lies_left", "张三李四" + left + left + "\x0b", "张三"},
        editing_case{"up_recalls_an_earlier_answer", up + up + "号", "1号"},
        // A Tab separates answers, as on a line typed without the editor:
        // the age after it is refused and asked again.
        editing_case{"tab_separates_answers", "王\t五", "王"}),
    [](const auto& info) { return std::string(info.param.name); });

// What a UTF-8 terminal stores through GB18030 beyond GBK proper goes back
// into a register kept in UTF-8 as it was typed, so the register loads again.
TEST_F(line_editing, pairs_beyond_gbk_proper_go_back_into_a_utf8_register)
{
    const std::string reg = utf8(u8"1 李 20 女 2004.01 x 139 c@d\n");
    write_file(dir + "/student.txt", reg);
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000));
    type("1\n");
    ASSERT_TRUE(read_until(pause_prompt, 5000));
    type("x");
    add_with_name(utf8(u8"ǹ张\uE000"), in_utf8, utf8(u8"19 男 2004.05 €100号 138 z@q.com"));
    // Not inside the check: its text is GBK, which has no euro sign.
    const std::string added = utf8(u8"7 ǹ张\uE000 19 男 2004.05 €100号 138 z@q.com\n");
    EXPECT_EQ(read_file(dir + "/student.txt"), reg + added);
}

TEST_F(line_editing, a_narrower_window_wraps_the_answer_at_its_new_width)
{
    start();
    // Wider than the menu prompt, which the editor draws too.
    std::string name(22, 'a');
    add_with_name(name, in_utf8, utf8(u8"19 男 2004.05 北京 138 z@q.com"), [&] {
        resize(24, 16);
        drain(100);
    });
    EXPECT_EQ(read_file(dir + "/student.txt"), "7 " + name + " 19 男 2004.05 北京 138 z@q.com\n");
    EXPECT_EQ(seen.find(std::string(17, 'a')), std::string::npos) << "not wrapped at 16 columns";
}

// Ctrl-Z while an answer is edited. A test's terminal belongs to a process
// group no shell controls, where the system does not stop it; what runs on
// the way is the same: the answer is drawn again, in the editor's mode.
TEST_F(line_editing, a_stop_while_an_answer_is_edited_keeps_its_mode_and_draws_it_again)
{
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000)) << seen;
    await_keys();
    EXPECT_EQ(seen.find(menu_prompt), seen.rfind(menu_prompt)) << "drawn twice unasked";
    type("6");
    ASSERT_TRUE(read_until("6", 5000)) << seen;
    termios before, after;
    ASSERT_EQ(tcgetattr(master, &before), 0);
    kill(pid, SIGTSTP);
    EXPECT_TRUE(read_until(menu_prompt + "6", 5000)) << seen;
    ASSERT_EQ(tcgetattr(master, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    list_and_leave();
}

TEST_F(line_editing, ctrl_z_gives_the_shell_the_terminal_in_its_own_mode)
{
    // A shell with job control, as at a real terminal: it gets the terminal
    // back when the program stops, and reads a line before resuming it.
    start(nullptr, {}, {"bash", "-c", "set -m; \"$0\"; read -r; fg > /dev/null"});
    ASSERT_TRUE(read_until(menu_prompt, 5000)) << seen;
    await_keys();
    type("6");
    ASSERT_TRUE(read_until("6", 5000)) << seen;
    type("\x1a");
    ASSERT_TRUE(read_until("Stopped", 5000)) << seen;
    EXPECT_EQ(program_mode().c_lflag & (ICANON | ECHO | ISIG), tcflag_t{ICANON | ECHO | ISIG});
    type("\n");
    EXPECT_TRUE(read_until(menu_prompt + "6", 5000)) << seen;
    list_and_leave();
}

TEST_F(line_editing, a_signal_while_editing_ends_the_line_it_cut_short)
{
    // Standard error elsewhere, and standard input open only for reading:
    // the line still ends on the terminal the answer was typed at.
    start(nullptr, {}, {"sh", "-c", "exec </dev/tty 2>/dev/null; exec \"$0\""});
    ASSERT_TRUE(play({{menu_prompt, "4\r"}, {":\r\n", "1\r"}, {":\r\n", "7\r"}, {":\r\n", ""}}));
    await_keys();
    type(utf8(u8"张"));
    ASSERT_TRUE(read_until(utf8(u8"张"), 5000)) << seen;
    kill(pid, SIGTERM);
    EXPECT_EQ(wait_exit(5000), -2);
    drain_rest(); // what it wrote just before it ended
    EXPECT_EQ(seen.substr(from), "\r\n");
}

// A query's number and then its key are asked on one line of output. The
// editor draws the second prompt alone, however the first was answered:
// typed ahead, or at the editor after a blank typed ahead had shown it.
struct first_answer_case {
    const char* name;
    std::string at_menu, at_number;
};

void PrintTo(const first_answer_case& c, std::ostream* os) { *os << c.name; }

class next_prompt : public terminal, public ::testing::WithParamInterface<first_answer_case> {};

TEST_P(next_prompt, is_drawn_alone)
{
    start();
    const std::string number = utf8(u8"请输入编号:"), id = utf8(u8"请输入要查询的学生的学号:");
    ASSERT_TRUE(play({{menu_prompt, GetParam().at_menu}, {number, ""}}));
    await_keys();
    ASSERT_TRUE(play({{"", GetParam().at_number}, {"1\r\n", ""}}));
    std::size_t answered = from;
    ASSERT_TRUE(read_until(id, 5000)) << seen;
    EXPECT_EQ(seen.substr(answered, from - answered), id);
    await_keys();
    ASSERT_TRUE(play({{"", "9\r"}, {number, "3\r"}, {pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

INSTANTIATE_TEST_SUITE_P(answers, next_prompt,
                         ::testing::Values(first_answer_case{"typed_ahead", "2 1\r", ""},
                                           first_answer_case{"after_a_blank_typed_ahead", "2 \r", "1\r"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The first prompt shows before the editor loads, and the editor takes it as
// drawn: a key typed there follows it, not the start of its line.
TEST_F(line_editing, a_key_at_the_first_prompt_follows_it)
{
    start();
    ASSERT_TRUE(read_until(menu_prompt, 5000)) << seen;
    await_keys();
    std::size_t after = from;
    type("9");
    ASSERT_TRUE(read_until("9", 5000)) << seen;
    EXPECT_EQ(seen.substr(after), "9") << "not where the prompt ends";
    type("\x7f" "8\r");
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// An answer begun with the key that ended a pause is the start of the line
// the editor shows after the prompt, to be edited like any other.
TEST_F(line_editing, an_answer_begun_in_the_pause_is_the_start_of_the_edited_line)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "6\r"}, {pause_prompt, "x9"}, {menu_prompt, ""}}));
    EXPECT_TRUE(read_until("9", 5000)) << "not shown: " << seen;
    EXPECT_EQ(seen.find(menu_prompt + menu_prompt), std::string::npos) << "drawn twice on its line";
    await_keys();
    type("\x7f" "8\r"); // taken back, and 8 typed instead
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

TEST_F(terminal, answers_on_one_line_still_answer_prompts_in_turn_with_editing)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, "6 8\r"}, {pause_prompt, ""}}));
    EXPECT_TRUE(waits_for_input()) << "the pause did not wait";
    EXPECT_FALSE(read_until(menu_prompt, 0)) << "the pause did not wait";
    type("x");
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// In a Chinese locale the terminal speaks GBK (or GB2312, or GB18030)
// itself: nothing is converted, Backspace takes a whole two-byte character,
// and a Chinese character is one key at a pause.
class chinese_locale : public terminal, public ::testing::WithParamInterface<std::string> {};

TEST_P(chinese_locale, works_without_conversion)
{
    std::vector<std::string> env = zh_locale(GetParam());
    if (env.empty())
        GTEST_SKIP() << "this machine cannot make the locale";
    start(nullptr, env);
    add_with_name("张X丰" + left + "\x7f" + "三",
                  {"请选择菜单编号:", "年龄:", "请按任意键继续. . .", "啊"},
                  "19 男 2004.05 北京 138 z@q.com");
    EXPECT_EQ(read_file(dir + "/student.txt"), "7 张三丰 19 男 2004.05 北京 138 z@q.com\n");
}

// Answers typed at a terminal while the dialogue goes to a file: typed
// input is still converted (unless the locale is Chinese), the file gets
// GBK, and the end of input after the add keeps it as unsaved work.
struct to_a_file {
    const char* name;
    std::string keys;    // in the terminal's encoding
    std::string charmap; // of a Chinese locale, or empty for UTF-8
    std::string stored;  // GBK
};

void PrintTo(const to_a_file& c, std::ostream* os) { *os << c.name; }

class typed_to_a_file : public terminal, public ::testing::WithParamInterface<to_a_file> {};

TEST_P(typed_to_a_file, is_stored_as_meant)
{
    std::vector<std::string> env;
    if (!GetParam().charmap.empty() && (env = zh_locale(GetParam().charmap)).empty())
        GTEST_SKIP() << "this machine cannot make the locale";
    // A terminal that does not know its input is UTF-8 is left so.
    start(nullptr, env, {"sh", "-c", "stty -iutf8; exec >out; exec \"$0\""});
    type(GetParam().keys);
    await_pause_in(dir + "/out");
    // The pause waits at the terminal all the same; the line break ends a
    // line begun before it.
    type("x\n");
    EXPECT_EQ(wait_exit(5000), 0) << seen;
    EXPECT_EQ(program_mode().c_iflag & IUTF8, 0u) << "the terminal's own mode was not given back";
    EXPECT_EQ(read_file(dir + "/student.unsaved.txt"), GetParam().stored);
    // The file holds the dialogue alone: where the end of input cut it short
    // at the menu's prompt, no line is ended for the terminal.
    const std::string out = read_file(dir + "/out"), prompt = "请选择菜单编号:";
    EXPECT_NE(out.substr(out.size() - prompt.size() - 1), prompt + "\n") << out;
}

// A terminal set up with no end-of-input key: a NUL typed ahead of the pause
// is a byte of the next answer (which it spoils), not the end of the input.
TEST_F(terminal, without_an_end_of_input_key_no_byte_ends_the_input)
{
    start(nullptr, {}, {"sh", "-c", "stty eof undef; exec >out; exec \"$0\""});
    type("6\n" + std::string(1, '\0'));
    await_pause_in(dir + "/out");
    type("x8\n");
    // The NUL spoils that answer, and the refusal pauses; the end of input
    // would have ended the session.
    auto refused = [this] {
        std::string out = read_file(dir + "/out");
        std::size_t at = out.find("请在1-8之间选择");
        return at != std::string::npos && out.find("请按任意键继续", at) != std::string::npos;
    };
    for (int k = 0; k < 1000 && !ended() && !refused(); ++k)
        drain(5);
    type("x8\n");
    EXPECT_TRUE(refused()) << read_file(dir + "/out");
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

INSTANTIATE_TEST_SUITE_P(
    cases, typed_to_a_file,
    ::testing::Values(
        // A NUL is no separator: the answer holding it is refused.
        to_a_file{"a_nul_inside_an_answer",
                  "4\n1\n7" + std::string(1, '\0') + "8\n" +
                      utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n\x04"),
                  "", "7 张三 19 男 2004.05 北京 138 z@q.com\n"},
        // A line of one byte is read as any other.
        to_a_file{"an_empty_line_between_answers",
                  "4\n\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n\x04"), "",
                  "7 张三 19 男 2004.05 北京 138 z@q.com\n"},
        // A line begun before the pause is no key: it answers the menu.
        to_a_file{"a_line_begun_before_the_pause",
                  "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\n8"), "",
                  "7 张三 19 男 2004.05 北京 138 z@q.com\n"},
        // The end of input comes with a character cut short: no character,
        // so the answer is refused, and the student is never complete.
        to_a_file{"a_character_cut_at_the_end",
                  "4\n1\n" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.co") + "\xe5\x04\x04", "", ""},
        // Neither is a character that GBK has no room for: asked again.
        to_a_file{"an_emoji_in_a_name",
                  "4\n1\n" + utf8(u8"7 张😀 三 19 男 2004.05 北京 138 z@q.com\n\x04"), "",
                  "7 三 19 男 2004.05 北京 138 z@q.com\n"},
        // 一 in GBK would also read as UTF-8 (U+04BB) were it converted.
        to_a_file{"in_a_gbk_locale", "4\n1\n7 一 19 男 2004.05 北京 138 z@q.com\n\x04", "GBK",
                  "7 一 19 男 2004.05 北京 138 z@q.com\n"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(charmaps, chinese_locale,
                         ::testing::Values("GBK", "GB2312", "GB18030"),
                         [](const auto& info) { return info.param; });

// Without the library, or with a library of that name that lacks what the
// editor needs, the terminal's own line mode still reads answers.
TEST_F(line_editing, a_missing_library_falls_back_to_the_terminal_line_mode)
{
    std::string other;
    for (const char* p : {"/usr/lib/x86_64-linux-gnu/libm.so.6", "/lib/x86_64-linux-gnu/libm.so.6"})
        if (other.empty() && exists(p))
            other = p;
    if (without_editor().empty() || other.empty())
        GTEST_SKIP() << "hiding the library needs root, as CI has, and the library";
    for (const std::string& stand_in : {std::string("/dev/null"), other}) {
        SCOPED_TRACE(stand_in);
        start_without_editor("true", stand_in);
        add_with_name(utf8(u8"张三丰"), in_utf8, utf8(u8"19 男 2004.05 北京 138 z@q.com"));
        EXPECT_EQ(read_file(dir + "/student.txt"), "7 张三丰 19 男 2004.05 北京 138 z@q.com\n");
        std::remove((dir + "/student.txt").c_str());
        close(master);
        master = -1;
        exited = false;
    }
}

// Without the editor, an answer begun in the pause shows once after the
// prompt, however the rest of it comes: here in two reads, the first cut
// short by the end-of-input key in the middle of the line.
TEST_F(line_editing, an_answer_begun_in_the_pause_shows_once_without_the_editor)
{
    if (!start_without_editor())
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    ASSERT_TRUE(play({{menu_prompt, "6\r"}, {pause_prompt, "x9"}, {menu_prompt, ""}}));
    std::size_t shown = from;
    ASSERT_TRUE(read_until("9", 5000)) << seen;
    type("1\x04");
    drain(300);
    type("\r");
    const std::string refusal = utf8(u8"请在1-8之间选择");
    ASSERT_TRUE(read_until(refusal, 5000)) << seen.substr(shown);
    EXPECT_EQ(seen.substr(shown, from - refusal.size() - shown), "91\r\n");
}

// An answer typed ahead of the end of input ends its line before what it
// shows.
TEST_F(line_editing, an_answer_typed_ahead_of_the_end_of_input_ends_its_line)
{
    start();
    ASSERT_TRUE(play({{menu_prompt, ""}}));
    await_editor();
    ASSERT_TRUE(play({{"", "6\r6\x04"}, {pause_prompt, "x"}}));
    EXPECT_TRUE(read_until(menu_prompt + "6\r\n" + utf8(u8"所有学生的信息为:"), 5000)) << seen;
    ASSERT_TRUE(play({{pause_prompt, "x"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// Without the editor, an answer still being typed when the input ends is
// answered all the same, on a line of its own.
TEST_F(line_editing, an_answer_cut_short_by_the_end_of_input_is_answered_without_the_editor)
{
    if (!start_without_editor())
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    ASSERT_TRUE(play({{menu_prompt, "6\x04"}}));
    drain(300);
    type("\x04");
    EXPECT_TRUE(read_until("6\r\n" + utf8(u8"所有学生的信息为:"), 5000)) << seen;
    ASSERT_TRUE(play({{pause_prompt, "x"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

// Without the editor, at a terminal that does not know its input is UTF-8,
// Backspace still takes a whole character.
TEST_F(line_editing, backspace_in_the_terminal_line_mode_takes_a_whole_character)
{
    if (!start_without_editor("stty -iutf8"))
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    add_with_name(utf8(u8"王芳娜") + "\x7f", in_utf8, utf8(u8"19 男 2004.05 北京 138 z@q.com"));
    EXPECT_EQ(read_file(dir + "/student.txt"), "7 王芳 19 男 2004.05 北京 138 z@q.com\n");
    EXPECT_EQ(program_mode().c_iflag & IUTF8, 0u) << "the terminal's own mode was not given back";
}

// Each form a key takes ends the pause whole: the 8 after it leaves.
struct key_form {
    const char* name;
    std::string key;
    bool editor;
};

void PrintTo(const key_form& c, std::ostream* os) { *os << c.name; }

class one_key : public terminal, public ::testing::WithParamInterface<key_form> {};

TEST_P(one_key, ends_the_pause_and_leaves_nothing_behind)
{
    if (!start_with_editor(GetParam().editor))
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    ASSERT_TRUE(play({{menu_prompt, "6\r"}, {pause_prompt, ""}}));
    await_keys();
    ASSERT_TRUE(play({{"", GetParam().key}, {menu_prompt, ""}}));
    await_editor();
    type("8\r");
    EXPECT_EQ(wait_exit(5000), 0) << "part of the key was left for the answer: " << seen;
}

const std::vector<key_form> key_forms = {
    {"alt_x", "\x1bx", true}, {"alt_6", "\x1b" "6", true}, {"linux_console_f1", "\x1b[[A", true},
    {"linux_console_f5", "\x1b[[E", true}, {"f5", "\x1b[15~", true}, {"alt_arrow", "\x1b\x1b[A", true},
    {"alt_chinese", "\x1b" + utf8(u8"中"), true}, {"alt_x_without_editor", "\x1bx", false},
    {"linux_console_f1_without_editor", "\x1b[[A", false}};

INSTANTIATE_TEST_SUITE_P(keys, one_key, ::testing::ValuesIn(key_forms),
                         [](const auto& info) { return std::string(info.param.name); });

// Answers pasted ahead across a pause show after the prompts they answer.
class shown_ahead : public terminal, public ::testing::WithParamInterface<bool> {};

TEST_P(shown_ahead, an_answer_pasted_ahead_shows_after_its_prompt)
{
    if (!start_with_editor(GetParam()))
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    ASSERT_TRUE(play({{menu_prompt, ""}}));
    await_editor();
    ASSERT_TRUE(play({{"", "1\r6\r"}, {pause_prompt, "x"}}));
    EXPECT_TRUE(read_until(menu_prompt + "6\r\n" + utf8(u8"所有学生的信息为:"), 5000)) << seen;
    ASSERT_TRUE(play({{pause_prompt, "x"}, {menu_prompt, "8\r"}}));
    EXPECT_EQ(wait_exit(5000), 0) << seen;
}

INSTANTIATE_TEST_SUITE_P(setups, shown_ahead, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "editor" : "line_mode"; });

// However a session ends at a terminal, what comes after it (a notice, the
// shell's prompt) starts a line of its own.
struct ending_key {
    const char* name;
    std::string key;
    bool editor;
    bool unsaved;
};

void PrintTo(const ending_key& c, std::ostream* os) { *os << c.name; }

class ends_at_a_terminal : public terminal, public ::testing::WithParamInterface<ending_key> {};

TEST_P(ends_at_a_terminal, on_a_line_of_its_own)
{
    if (!start_with_editor(GetParam().editor))
        GTEST_SKIP() << "hiding the library needs root, as CI has";
    ASSERT_TRUE(play({{menu_prompt, ""}}));
    if (GetParam().unsaved) {
        ASSERT_TRUE(play({{"", "4\r1\r" + utf8(u8"7 张三 19 男 2004.05 北京 138 z@q.com\r")},
                          {pause_prompt, "x"}, {menu_prompt, ""}}));
    }
    await_editor();
    type(GetParam().key);
    wait_exit(5000);
    ASSERT_TRUE(exited) << seen;
    drain_rest();
    std::string tail = seen.substr(seen.rfind(menu_prompt));
    const std::string notice = utf8(u8"有未保存的修改");
    if (GetParam().unsaved) {
        ASSERT_NE(tail.find(notice), std::string::npos) << tail;
        EXPECT_EQ(tail[tail.find(notice) - 1], '\n') << tail;
    }
    EXPECT_EQ(tail.back(), '\n') << tail;
    EXPECT_EQ(tail.find("\n\r\n"), std::string::npos) << "an empty line: " << tail;
}

INSTANTIATE_TEST_SUITE_P(
    keys, ends_at_a_terminal,
    ::testing::Values(ending_key{"ctrl_d", "\x04", true, true},
                      ending_key{"ctrl_d_with_nothing_to_keep", "\x04", true, false},
                      ending_key{"ctrl_c_in_a_half_typed_answer", "ab\x03", true, true},
                      ending_key{"ctrl_d_in_line_mode", "\x04", false, true},
                      ending_key{"ctrl_c_in_line_mode", "ab\x03", false, true},
                      ending_key{"ctrl_c_in_line_mode_with_nothing_to_keep", "ab\x03", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
