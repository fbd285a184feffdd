#include "support.h"

#include "console/console.h"
#include "records/datafile.h"

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

const std::string pause_text = "请按任意键继续. . .\n";

void reset_table()
{
    n = 0;
    dirty = false;
    use_file("student.txt"); // the default register, in GBK, never loaded
    std::memset(stu, 0, sizeof stu);
}

student rec(const std::string& id, const std::string& name, int age)
{
    student r{};
    put(r.id, id);
    put(r.name, name);
    r.age = age;
    put(r.sex, "男");
    put(r.birth, "2001." + id.substr(0, 2));
    put(r.address, "addr-" + id);
    put(r.phone, "139" + id);
    put(r.email, id + "@x.cn");
    return r;
}

void set_table(const std::vector<student>& rs)
{
    reset_table();
    for (const student& r : rs)
        stu[n++] = r;
}

std::string dump()
{
    std::string s;
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        s += std::string(r.id) + "|" + r.name + "|" + std::to_string(r.age) + "|" + r.sex + "|" +
             r.birth + "|" + r.address + "|" + r.phone + "|" + r.email + "\n";
    }
    return s;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

bool exists(const std::string& path)
{
    return fs::exists(fs::symlink_status(path));
}

std::vector<std::string> names_in(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string drive(const std::function<void()>& screen, const std::string& input, std::string* err)
{
    std::FILE* in = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    char* ebuf = nullptr;
    std::size_t elen = 0;
    std::FILE* eout = open_memstream(&ebuf, &elen);
    console_use(in, out, false, eout);
    try {
        screen();
    } catch (const leave&) {
    }
    std::fflush(out);
    std::string printed(buf, len);
    std::fclose(out);
    std::free(buf);
    std::fclose(eout);
    if (err)
        *err = std::string(ebuf, elen);
    std::free(ebuf);
    std::fclose(in);
    return printed;
}

void scratch::SetUp()
{
    old = fs::current_path();
    char tmpl[] = "/tmp/student-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    fs::current_path(dir);
    // Work that finds no room beside the register goes home: a home of the
    // test's own, there only where a test makes it. Not under wine, which
    // keeps its own files at home, and whose programs' home is its own.
    if (!under_runner())
        ::setenv("HOME", (dir + "/home").c_str(), 1);
    reset_table();
}

void scratch::TearDown()
{
    fs::current_path(old);
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

bool under_runner()
{
    return std::getenv("STUDENT_RUNNER") != nullptr;
}

std::string saved(const std::string& lf_text)
{
    if (!under_runner())
        return lf_text;
    std::string s;
    for (char c : lf_text)
        s += c == '\n' && !s.ends_with('\r') ? std::string("\r\n") : std::string(1, c);
    return s;
}

namespace {

// The Windows program ends its lines in CR LF; they are brought to the
// POSIX form.
std::string lf_lines(const std::string& raw)
{
    std::string out;
    for (std::size_t k = 0; k < raw.size(); ++k)
        if (!(raw[k] == '\r' && k + 1 < raw.size() && raw[k + 1] == '\n'))
            out += raw[k];
    return out;
}

} // namespace

pid_t launch(const std::string& dir, std::vector<std::string> argv,
             const std::function<void()>& wire)
{
    if (argv.empty())
        argv.push_back(STUDENT_EXE);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A test killed on its time limit takes its program with it: one
        // left running (a pseudo-terminal's is in a session of its own)
        // would slow every test after it.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(125);
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        wire();
        std::vector<char*> v;
        for (std::string& a : argv)
            v.push_back(a.data());
        v.push_back(nullptr);
        execvp(v[0], v.data());
        _exit(127);
    }
    return pid;
}

// <chrono> cannot be used here: its micro sign has no GBK form.
static long now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

int await_end(pid_t pid, int ms, int fd, std::string* shown)
{
    // The process's own descriptor wakes the wait the moment it ends, so
    // no test waits a polling step longer than the program runs.
    int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    long end = now_ms() + ms;
    int st = -1;
    for (long left = ms; left >= 0; left = end - now_ms()) {
        if (waitpid(pid, &st, WNOHANG) == pid)
            break;
        st = -1;
        pollfd p[2] = {{ended, POLLIN, 0}, {fd, POLLIN, 0}};
        if (poll(p, fd >= 0 ? 2 : 1, static_cast<int>(std::min(left, 20L))) < 0 && errno != EINTR)
            break;
        char buf[4096];
        ssize_t r = 0;
        if (fd >= 0 && (p[1].revents & (POLLIN | POLLHUP))) {
            if ((r = read(fd, buf, sizeof buf)) > 0)
                shown->append(buf, static_cast<std::size_t>(r));
            else
                fd = -1; // the other side is closed: nothing more to take
        }
    }
    if (ended >= 0)
        close(ended);
    return st;
}

int reap(pid_t pid, int ms)
{
    int st = await_end(pid, ms);
    if (st == -1) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        return -1;
    }
    return st;
}

running start_program(const std::string& dir, const std::string& input,
                      const std::vector<std::string>& prefix, const std::vector<std::string>& args)
{
    // The input and output live outside dir, which may be a full disk.
    char io_tmpl[] = "/tmp/student-io-XXXXXX";
    if (!mkdtemp(io_tmpl))
        return {};
    running r;
    r.io = io_tmpl;
    write_file(r.io + "/input", input);
    const char* runner = std::getenv("STUDENT_RUNNER");
    const char* program = std::getenv("STUDENT_PROGRAM");
    std::vector<std::string> argv = prefix;
    if (runner)
        argv.push_back(runner);
    argv.push_back(program ? program : STUDENT_EXE);
    argv.insert(argv.end(), args.begin(), args.end());
    r.pid = launch(dir, argv, [&] {
        // The program's words follow the locale: the C locale, unless a
        // test picks one (locale_for_program), whatever the environment says.
        // Not under wine, which reads the arguments (names in UTF-8 here)
        // in the locale's encoding.
        if (!runner)
            setenv("LC_ALL", "C", 0);
        dup2(open((r.io + "/input").c_str(), O_RDONLY), 0);
        dup2(open((r.io + "/output").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open((r.io + "/error").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    });
    return r;
}

outcome finish_program(const running& r)
{
    outcome o;
    int st = reap(r.pid, under_runner() ? 60000 : 10000);
    if (st != -1) {
        o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        o.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    }
    o.out = read_file(r.io + "/output");
    o.err = read_file(r.io + "/error");
    o.raw = o.out;
    if (under_runner()) {
        o.out = lf_lines(o.out);
        o.err = lf_lines(o.err);
    }
    fs::remove_all(r.io);
    return o;
}

outcome run_program(const std::string& dir, const std::string& input,
                    const std::vector<std::string>& args)
{
    return finish_program(start_program(dir, input, {}, args));
}

std::string menu_text()
{
    auto t = [](int k) { return std::string(k, '\t'); };
    auto s = [](int k) { return std::string(k, ' '); };
    std::string m;
    m += t(4) + s(5) + "注意事项" + s(6) + "\n";
    m += t(2) + s(6) + "一：第一次运行请先刷新系统！！！！" + s(5) + "\n";
    m += t(2) + s(6) + "二：增加学生信息后务必保存信息！！！！" + s(4) + "\n\n";
    m += t(3) + s(10) + "系统功能菜单" + s(9) + "\n";
    const char* items[] = {"1.刷新学生信息", "2.查询学生信息", "3.修改学生信息",
                           "4.增加学生信息", "5.按学号删除信息", "6.显示当前信息",
                           "7.保存当前学生信息", "8.退出系统"};
    for (const char* item : items) {
        std::string row = t(3) + s(6) + item;
        m += row + s(32 - row.size()) + "\n";
    }
    return m + "请选择菜单编号:";
}

const std::vector<std::string> as_nobody = {"setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

const std::string& locale_for_program::gbk_locales()
{
    static const struct made {
        std::string dir;
        made()
        {
            char tmpl[] = "/tmp/student-locale-XXXXXX";
            std::string d = mkdtemp(tmpl) ? tmpl : "";
            std::string make = "localedef -c -i zh_CN -f GBK " + d + "/zh_CN.GBK 2>/dev/null";
            if (!d.empty() && std::system(make.c_str()) == 0)
                dir = d;
            else if (std::error_code ec; !d.empty())
                std::filesystem::remove_all(d, ec);
        }
        ~made()
        {
            std::error_code ec;
            if (!dir.empty())
                std::filesystem::remove_all(dir, ec);
        }
    } locales;
    return locales.dir;
}

std::vector<std::string> without_library(const std::string& soname, const std::string& setup,
                                         const std::string& stand_in)
{
    std::string lib;
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/", "/lib/x86_64-linux-gnu/", "/usr/lib/"})
        if (lib.empty() && exists(dir + soname))
            lib = dir + soname;
    if (geteuid() != 0 || lib.empty())
        return {};
    // In a mount namespace of its own, so the system's library is left as
    // it is for everything else.
    std::string hide = setup + " && mount --bind " + stand_in + " " + lib + " && exec \"$0\" \"$@\"";
    return {"unshare", "--mount", "--propagation", "private", "sh", "-c", hide};
}
