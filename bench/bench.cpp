// Costs at the register's full capacity of 1000 records. Built with the
// program, run by hand (see the README), never by the tests.
#include "console/console.h"
#include "console/screens.h"
#include "records/csv.h"
#include "records/datafile.h"
#include "records/encoding.h"
#include "records/table.h"
#include "records/workbook.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

student make(int k)
{
    student r{};
    std::snprintf(r.id, sizeof r.id, "%d", 2023000000 + k);
    std::snprintf(r.name, sizeof r.name, "\xD1\xA7\xC9\xFA%d", k);
    r.age = 18 + k % 10;
    std::snprintf(r.sex, sizeof r.sex, "%s", k % 2 ? "\xC4\xD0" : "\xC5\xAE");
    std::snprintf(r.birth, sizeof r.birth, "200%d.%d", k % 8, k % 12 + 1);
    std::snprintf(r.address, sizeof r.address, "\xC4\xCF\xBE\xA9\xCA\xD0\xB9\xC4\xC2\xA5\xC7\xF8%d\xBA\xC5", k);
    std::snprintf(r.phone, sizeof r.phone, "138%08d", k);
    std::snprintf(r.email, sizeof r.email, "s%d@school.edu.cn", k);
    return r;
}

void fill_sorted()
{
    n = STUDENT_CAPACITY;
    for (int k = 0; k < n; ++k)
        stu[k] = make(k);
}

void fill_reversed()
{
    n = STUDENT_CAPACITY;
    for (int k = 0; k < n; ++k)
        stu[k] = make(n - 1 - k);
}

// A sorted table whose last record belongs at the front: what a new
// student gives at the end of the add dialogue.
void fill_one_new()
{
    fill_sorted();
    stu[n - 1] = make(-1);
}

// The adjacent-exchange sort the register was once kept with: every pass
// runs to its end, (n-1)n/2 comparisons whatever the input.
void exchange_sort()
{
    for (int i = 0; i < n - 1; ++i)
        for (int j = n - 1; j > i; --j)
            if (std::strcmp(stu[j - 1].id, stu[j].id) > 0) {
                student t = stu[j - 1];
                stu[j - 1] = stu[j];
                stu[j] = t;
            }
}

template <void (*fill)(), void (*sorter)()>
void bm_sort(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        fill();
        state.ResumeTiming();
        sorter();
        benchmark::DoNotOptimize(stu);
    }
}

BENCHMARK(bm_sort<fill_reversed, sort>)->Name("sort/reversed");
BENCHMARK(bm_sort<fill_sorted, sort>)->Name("sort/sorted");
BENCHMARK(bm_sort<fill_one_new, sort>)->Name("sort/one_new_at_end");
BENCHMARK(bm_sort<fill_reversed, exchange_sort>)->Name("exchange_sort/reversed");
BENCHMARK(bm_sort<fill_sorted, exchange_sort>)->Name("exchange_sort/sorted");
BENCHMARK(bm_sort<fill_one_new, exchange_sort>)->Name("exchange_sort/one_new_at_end");

// Output thrown away; nothing to read.
std::FILE* nowhere = std::fopen("/dev/null", "w");
std::FILE* nothing = std::fopen("/dev/null", "r");

// A scratch directory in memory, so the disk is not what is measured.
struct shm_dir {
    std::string path;
    std::string old;
    shm_dir()
    {
        char tmpl[] = "/dev/shm/student-bench-XXXXXX";
        char cwd[4096];
        if (!mkdtemp(tmpl) || !getcwd(cwd, sizeof cwd) || chdir(tmpl) != 0)
            std::abort();
        path = tmpl;
        old = cwd;
    }
    ~shm_dir()
    {
        std::remove("student.txt");
        if (chdir(old.c_str()) == 0)
            rmdir(path.c_str());
    }
};

void bm_refresh(benchmark::State& state)
{
    shm_dir dir;
    console_use(nothing, nowhere, false);
    fill_sorted();
    save();
    for (auto _ : state) {
        refresh();
        benchmark::DoNotOptimize(stu);
    }
    if (n != STUDENT_CAPACITY)
        state.SkipWithError("the register did not load");
}
BENCHMARK(bm_refresh)->Name("refresh/1000");

// The same register kept in UTF-8, as an editor elsewhere saves it: each
// value is converted to GBK as it is read.
void bm_refresh_utf8(benchmark::State& state)
{
    shm_dir dir;
    console_use(nothing, nowhere, false);
    fill_sorted();
    std::string gbk;
    for (int k = 0; k < n; ++k) {
        const student& r = stu[k];
        gbk += std::string(r.id) + " " + r.name + " " + std::to_string(r.age) + " " + r.sex + " " +
               r.birth + " " + r.address + " " + r.phone + " " + r.email + "\n";
    }
    std::string utf8;
    gbk_to_utf8(gbk, utf8);
    std::FILE* f = std::fopen("student.txt", "w");
    std::fwrite(utf8.data(), 1, utf8.size(), f);
    std::fclose(f);
    for (auto _ : state) {
        refresh();
        benchmark::DoNotOptimize(stu);
    }
    int bad = 0;
    n = 0;
    if (load_file(bad) != load_status::ok || n != STUDENT_CAPACITY)
        state.SkipWithError("the register did not load");
}
BENCHMARK(bm_refresh_utf8)->Name("refresh/1000/utf8");

std::string csv_or_nothing()
{
    std::string text;
    int row = 0, field = 0;
    return csv_text(text, row, field) ? text : std::string();
}

void bm_export(benchmark::State& state)
{
    fill_sorted();
    for (auto _ : state)
        benchmark::DoNotOptimize(csv_or_nothing());
}
BENCHMARK(bm_export)->Name("export/1000");

// The workbook, written through its scratch file in the temporary folder
// (TMPDIR=/dev/shm keeps the disk out of it, as for the other figures).
void bm_workbook(benchmark::State& state)
{
    fill_sorted();
    std::string bytes;
    for (auto _ : state)
        if (workbook_bytes(bytes).fault != workbook_fault::none)
            state.SkipWithError("no workbook");
}
BENCHMARK(bm_workbook)->Name("export/1000/workbook")->Unit(benchmark::kMillisecond);

void bm_import(benchmark::State& state)
{
    fill_sorted();
    std::string text = csv_or_nothing();
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    int added = 0;
    for (auto _ : state) {
        n = 0;
        std::rewind(f);
        import_csv(f, added);
    }
    std::fclose(f);
    if (added != STUDENT_CAPACITY)
        state.SkipWithError("the rows were not imported");
}
BENCHMARK(bm_import)->Name("import/1000");

void bm_save(benchmark::State& state)
{
    shm_dir dir;
    console_use(nothing, nowhere, false);
    fill_sorted();
    save_sync = state.range(0) != 0;
    for (auto _ : state)
        save();
    save_sync = true;
}
BENCHMARK(bm_save)->Name("save/1000/sync")->Arg(1);
BENCHMARK(bm_save)->Name("save/1000/no_sync")->Arg(0);

void bm_show(benchmark::State& state)
{
    console_use(nothing, nowhere, false);
    fill_sorted();
    for (auto _ : state) {
        show();
        flush();
    }
}
BENCHMARK(bm_show)->Name("show/1000");

// The menu's prompt as a terminal shows it: in GBK, or bridged to UTF-8.
const char* const prompt_gbk = "请选择菜单编号:";
const char* const prompt_utf8 = reinterpret_cast<const char*>(u8"请选择菜单编号:");

double seconds_now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Starts argv at a new pseudo-terminal and returns the time until its
// output holds the prompt; negative when it never did. The program is
// killed then, outside the time.
double until_prompt(const char* const* argv)
{
    int master = -1;
    double start = seconds_now();
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        setenv("TERM", "xterm", 0);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    if (pid < 0)
        return -1;
    std::string shown;
    double took = -1;
    char buf[4096];
    pollfd p{master, POLLIN, 0};
    while (took < 0 && poll(&p, 1, 5000) > 0) {
        ssize_t got = read(master, buf, sizeof buf);
        if (got <= 0)
            break;
        shown.append(buf, static_cast<std::size_t>(got));
        if (shown.find(prompt_gbk) != std::string::npos || shown.find(prompt_utf8) != std::string::npos)
            took = seconds_now() - start;
    }
    kill(pid, SIGKILL);
    close(master);
    waitpid(pid, nullptr, 0);
    return took;
}

// The program's first prompt at a terminal (started in a folder without a
// register), beside echo printing the same text there: the floor of any
// program that starts at a terminal and writes to it.
void bm_first_prompt(benchmark::State& state, std::vector<const char*> argv)
{
    shm_dir dir;
    argv.push_back(nullptr);
    for (auto _ : state) {
        double took = until_prompt(argv.data());
        if (took < 0) {
            state.SkipWithError("no prompt");
            break;
        }
        state.SetIterationTime(took);
    }
}
BENCHMARK_CAPTURE(bm_first_prompt, program, std::vector<const char*>{STUDENT_EXE})
    ->Name("first_prompt/student")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(bm_first_prompt, echo, std::vector<const char*>{"/bin/echo", prompt_gbk})
    ->Name("first_prompt/echo")->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
