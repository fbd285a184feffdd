#include "console/lineedit.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <editline/readline.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The library is loaded only at a terminal, so piped sessions start and
// run as without it, and a system without it still works.
struct library {
    decltype(&rl_callback_handler_install) install = nullptr;
    decltype(&rl_callback_read_char) read_char = nullptr;
    decltype(&rl_callback_handler_remove) remove = nullptr;
    decltype(&add_history) remember = nullptr;
    decltype(&rl_resize_terminal) resize = nullptr;
    decltype(&rl_forced_update_display) redraw = nullptr;
    decltype(&rl_insert) push = nullptr;
    decltype(&rl_insert_text) insert = nullptr;
    decltype(&rl_parse_and_bind) bind = nullptr;
    int* end = nullptr;
    std::FILE* out = nullptr; // the editor's own way to the terminal
};

library lib;
bool done;
char* got;

void take_line(char* line)
{
    done = true;
    got = line;
}

template <typename F>
bool find(void* h, const char* name, F& f)
{
    f = reinterpret_cast<F>(::dlsym(h, name));
    return f != nullptr;
}

// The editor writes to a descriptor of its own, a copy of standard output,
// so that its drawing of a prompt already on the terminal can be sent
// elsewhere without touching the program's own output.
std::FILE* own_output()
{
    int fd = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "w");
    if (!f && fd >= 0)
        ::close(fd);
    return f;
}

// Starts the line. With the prompt taken as drawn, the editor's first
// drawing of it goes nowhere, and it edits on from where the prompt ends.
void install(const char* prompt, bool drawn)
{
    int fd = ::fileno(lib.out);
    int null = drawn ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
    bool quiet = null >= 0 && ::dup3(null, fd, O_CLOEXEC) >= 0;
    if (drawn && !quiet)
        (void)!::write(1, "\r", 1); // then drawn again over itself
    lib.install(prompt, take_line);
    if (quiet) {
        std::fflush(lib.out);
        ::dup3(1, fd, O_CLOEXEC);
    }
    if (null >= 0)
        ::close(null);
}

// True when the terminal has ended (hung up, or closed): it says it can be
// read but holds nothing.
bool ended()
{
    int avail = 0;
    return ::ioctl(0, FIONREAD, &avail) != 0 || avail == 0;
}

// At the cap: takes one key byte off the terminal instead of the editor,
// with a bell the first time. True when it was Enter, which ends the line
// as it stands.
bool drop_key(bool& rang)
{
    char c;
    if (::read(0, &c, 1) != 1)
        return false;
    if (c == '\r' || c == '\n')
        return true;
    if (!rang)
        (void)!::write(1, "\a", 1);
    rang = true;
    return false;
}

} // namespace

bool edit_open()
{
    void* h = ::dlopen("libedit.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!h)
        return false;
    auto outstream = static_cast<std::FILE**>(::dlsym(h, "rl_outstream"));
    decltype(&rl_initialize) init = nullptr;
    int* catch_signals = static_cast<int*>(::dlsym(h, "rl_catch_signals"));
    int* no_completion = static_cast<int*>(::dlsym(h, "rl_inhibit_completion"));
    lib.end = static_cast<int*>(::dlsym(h, "rl_end"));
    if (!catch_signals || !no_completion || !lib.end || !find(h, "rl_insert", lib.push) ||
        !find(h, "rl_insert_text", lib.insert) || !find(h, "rl_parse_and_bind", lib.bind) ||
        !find(h, "rl_callback_handler_install", lib.install) ||
        !find(h, "rl_callback_read_char", lib.read_char) ||
        !find(h, "rl_callback_handler_remove", lib.remove) || !find(h, "add_history", lib.remember) ||
        !find(h, "rl_resize_terminal", lib.resize) ||
        !find(h, "rl_forced_update_display", lib.redraw) || !outstream ||
        !find(h, "rl_initialize", init) || !(lib.out = own_output())) {
        ::dlclose(h);
        lib = {};
        return false;
    }
    // Signals stay the program's: they end the session between keys.
    *catch_signals = 0;
    // A Tab separates answers, as everywhere else; there are no file names
    // to complete.
    *no_completion = 1;
    // Set up now, while the editor's descriptor is the terminal, which is
    // how it knows it can edit.
    *outstream = lib.out;
    return init() == 0;
}

edited edit_line(const std::string& prompt, bool drawn, const std::string& begun, waited (*wait)(),
                 std::string& line)
{
    done = false;
    got = nullptr;
    bool rang = false;
    install(prompt.c_str(), drawn);
    static bool bound = false;
    if (!bound) {
        // Ctrl-U as in a shell: what lies left of the cursor, not the whole
        // line (Ctrl-K takes what lies right of it).
        lib.bind("bind ^U vi-kill-line-prev");
        bound = true;
    }
    *lib.end = 0; // still the last line's length until the first key
    if (!begun.empty()) {
        // Begun past the cap, it is cut as a paste at the prompt is: with
        // a bell, and refused once Enter comes, never taken short.
        if (begun.size() > edit_cap) {
            (void)!::write(1, "\a", 1);
            rang = true;
        }
        lib.insert(begun.substr(0, edit_cap).c_str());
        // The redraw starts where it takes the cursor to be, the line's start.
        std::fputc('\r', lib.out);
        lib.redraw();
    }
    while (!done) {
        waited w = wait();
        if (w == waited::resized || w == waited::continued) {
            lib.resize();
            if (w == waited::continued) // on a new line, after what the shell wrote
                lib.redraw();
            continue;
        }
        if (w == waited::stop) {
            lib.remove();
            (void)!::write(1, "\n", 1); // off the line that was cut short
            return edited::stopped;
        }
        if (ended()) {
            lib.remove();
            return edited::end;
        }
        if (*lib.end < static_cast<int>(edit_cap)) {
            lib.read_char();
            continue;
        }
        // A paste longer than the cap would break the library itself. Enter
        // taken off the terminal is handed to the editor's own input queue.
        if (drop_key(rang)) {
            lib.push(1, '\n');
            lib.read_char();
        }
    }
    lib.remove();
    if (!got)
        return edited::end;
    line = got;
    if (!line.empty())
        lib.remember(got);
    std::free(got);
    return rang ? edited::cut : edited::line;
}
