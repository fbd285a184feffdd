// Helpers shared by the tests: a fresh table, a scratch working directory,
// a screen driven in-process from a string, and the built program run with
// piped input.
#pragma once

#include "records/table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Copies v into a text field of N bytes, cut to fit.
template <std::size_t N>
void put(char (&field)[N], std::string_view v)
{
    std::size_t len = v.size() < N ? v.size() : N - 1;
    v.copy(field, len);
    field[len] = '\0';
}

// Empties the table and wipes every slot.
void reset_table();

// A record with the given id and name; the other fields are derived from
// them so that a field left behind in a swap shows.
student rec(const std::string& id, const std::string& name, int age = 20);

// Loads the given records as the table.
void set_table(const std::vector<student>& rs);

// One line per record in use, the fields separated by '|'.
std::string dump();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// The names in a folder, sorted.
std::vector<std::string> names_in(const std::string& dir);

// Feeds input to screen (a whole dialogue) and returns what it printed.
// The end of input ends the dialogue as it ends the program. Notices go to
// *err when it is given.
std::string drive(const std::function<void()>& screen, const std::string& input,
                  std::string* err = nullptr);

// Each test runs in a new empty working directory with an empty table.
class scratch : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string dir;

private:
    std::string old;
};

struct outcome {
    std::string out;
    std::string raw; // standard output as the program wrote it, line ends and all
    std::string err;
    int status = -1; // exit status, or -1 when killed or hung
    int signal = 0;  // the signal that ended it, if one did
};

// Starts argv in dir (the built program when argv is empty) as a child,
// after wire has set up its streams there; 127 is its status when it
// cannot be run. The one way the tests start a program.
pid_t launch(const std::string& dir, std::vector<std::string> argv = {},
             const std::function<void()>& wire = [] {});

// Waits up to ms for pid to end, taking what fd shows meanwhile into *shown
// when fd is given; its wait status, or -1 while it still runs.
int await_end(pid_t pid, int ms, int fd = -1, std::string* shown = nullptr);

// Waits for pid as await_end does; kills it once ms have passed, so a hang
// fails instead of stalling the run (-1 then).
int reap(pid_t pid, int ms = 5000);

// A program started and not yet waited for.
struct running {
    int pid = -1;
    std::string io;
};

// Starts the built program in dir with input on a pipe, under the command
// prefix when one is given (setpriv, say).
running start_program(const std::string& dir, const std::string& input,
                      const std::vector<std::string>& prefix = {},
                      const std::vector<std::string>& args = {});

// Waits for it; kills it after a few seconds so a hang fails instead of
// stalling the run.
outcome finish_program(const running& r);

// The command prefix that runs a program as the unprivileged user nobody.
extern const std::vector<std::string> as_nobody;

// The command prefix that starts a program with the shared library soname
// hidden from the loader (as on a system without it: stand_in is read in
// its place), after running setup in the shell; empty when this machine
// cannot (it needs root, as CI has) or has no such library.
std::vector<std::string> without_library(const std::string& soname, const std::string& setup = "true",
                                         const std::string& stand_in = "/dev/null");

// Runs the built program in dir with input on a pipe (under STUDENT_RUNNER
// when that is set, with its output brought to the POSIX form); kills it after a few
// seconds so a hang fails instead of stalling the run. Given arguments, the
// program gets them.
outcome run_program(const std::string& dir, const std::string& input,
                    const std::vector<std::string>& args = {});

// Whether the program runs under another program (the Windows build under
// wine, named by STUDENT_RUNNER, with STUDENT_PROGRAM the .exe).
bool under_runner();

// A file as the program saves it: lf_text with CR LF line ends on Windows.
std::string saved(const std::string& lf_text);

// The notice and menu followed by the menu prompt, as the program prints
// them before every choice.
std::string menu_text();

// The text the program prints for a pause off a terminal.
extern const std::string pause_text;

// LC_ALL=locale for the programs started from here until it goes. A GBK
// locale is made for the test, as few systems have one.
class locale_for_program {
public:
    explicit locale_for_program(const std::string& locale)
    {
        if (locale == "zh_CN.GBK")
            setenv("LOCPATH", gbk_locales().c_str(), 1);
        setenv("LC_ALL", locale.c_str(), 1);
    }
    ~locale_for_program()
    {
        unsetenv("LC_ALL");
        unsetenv("LOCPATH");
    }
    // Made once per test process, and removed with it.
    static const std::string& gbk_locales();
};

