#include "console/terminal_wait_posix.h"

#include "console/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A request to end the session: the signal's number, and a pipe that a wait for
// input watches, so a signal that comes just before the wait still ends it.
volatile sig_atomic_t stop_sig = 0;
int stop_pipe[2] = {-1, -1};

// The terminal's own mode, as the program found it.
termios own_mode;
bool have_own_mode = false;

void on_stop(int sig)
{
    int e = errno;
    if (!stop_sig)
        stop_sig = sig;
    (void)!::write(stop_pipe[1], "", 1);
    errno = e;
}

// The window changed size (or the program was continued) while an answer
// is edited: the editor is told between keys.
volatile sig_atomic_t resized = 0;
volatile sig_atomic_t continued = 0;

// Stopped (Ctrl-Z, or SIGTSTP) while the pause or the line editor has the
// terminal out of line mode: the shell gets the terminal as it was, and the
// program its mode back when continued.
void on_tstp(int)
{
    int e = errno;
    termios now;
    bool back = have_own_mode && ::tcgetattr(0, &now) == 0;
    if (back)
        ::tcsetattr(0, TCSANOW, &own_mode);
    ::signal(SIGTSTP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(SIGTSTP); // stops here until continued
    ::signal(SIGTSTP, on_tstp);
    if (back)
        ::tcsetattr(0, TCSANOW, &now);
    continued = 1; // the shell wrote meanwhile: an answer being edited is drawn again
    errno = e;
}

void on_resize(int)
{
    resized = 1;
}

// After a request to end the session, whatever still blocks (output to a
// stopped terminal or a full pipe) gets this long before the process ends
// as the request says.
void on_deadline(int)
{
    restore_mode();
    ::signal(stop_sig, SIG_DFL);
    ::raise(stop_sig);
}

} // namespace

void catch_signals()
{
    // Without it the descriptors stay -1, which poll passes over: a signal
    // still interrupts a wait, only not one that has yet to begin.
    (void)!::pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK);
    // Not restarted: a write blocked on output nobody takes must give way
    // to the request, so the operator's work can still be kept.
    struct sigaction sa {};
    sa.sa_handler = on_stop;
    sigemptyset(&sa.sa_mask);
    // Ctrl-\ sits beside Enter and Backspace: a slip of the finger must not
    // cost the operator's work, so it keeps the work as Ctrl-C does.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaction(sig, &sa, nullptr);
    sa.sa_handler = on_tstp;
    ::sigaction(SIGTSTP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void term_plain_stops()
{
    // Released first: a request that comes after the check ends the
    // process by itself, and one that came before is seen here. A caught
    // stop or resize would cut a blocked write short too.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGWINCH})
        ::signal(sig, SIG_DFL);
    if (int sig = stop_sig)
        term_exit(sig);
}

void catch_resize()
{
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGWINCH, &sa, nullptr);
}

int term_stopped()
{
    return stop_sig;
}

void keep_mode()
{
    have_own_mode = ::tcgetattr(0, &own_mode) == 0;
}

void erase_utf8()
{
    if (!have_own_mode || (own_mode.c_iflag & IUTF8))
        return;
    termios utf8_mode = own_mode;
    utf8_mode.c_iflag |= IUTF8;
    if (::tcsetattr(0, TCSANOW, &utf8_mode) == 0)
        std::atexit(restore_mode);
}

// Whatever mode the pause or the line editor has the terminal in, so whatever
// ends the program leaves it as it was found. Only from the foreground: setting
// the mode from the background would stop the program instead.
void restore_mode()
{
    if (have_own_mode && ::tcgetpgrp(0) == ::getpgrp())
        ::tcsetattr(0, TCSANOW, &own_mode);
}

bool wait_input(int ms)
{
    pollfd p[2] = {{0, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    int r = 0;
    while (!stop_sig && (r = ::poll(p, 2, ms)) < 0 && errno == EINTR) {
    }
    return !stop_sig && r > 0; // the pipe is written only with a stop
}

waited wait_key()
{
    pollfd p[2] = {{0, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    for (;;) {
        if (stop_sig)
            return waited::stop;
        if (continued) {
            continued = 0;
            resized = 0;
            return waited::continued;
        }
        if (resized) {
            resized = 0;
            return waited::resized;
        }
        if (::poll(p, 2, -1) >= 0 || errno != EINTR)
            return stop_sig ? waited::stop : waited::key;
    }
}

void forget_continued()
{
    continued = 0;
}

void term_deadline()
{
    if (!stop_sig)
        return;
    ::signal(SIGALRM, on_deadline);
    ::alarm(2);
}
