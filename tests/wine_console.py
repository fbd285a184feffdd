#!/usr/bin/env python3
"""The Windows program under wine at a pseudo-terminal, where wine gives it a
real console on wine's own default code page (not 936). The keys arrive as a
terminal sends them, and what the console shows arrives as UTF-8 with wine's
escape sequences around it, which are dropped before text is compared.

Usage: wine_console.py path/to/student.exe path/to/console_parent.exe
(WINEPREFIX set by the caller)
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import tty

EXE = os.path.abspath(sys.argv[1])
PARENT = os.path.abspath(sys.argv[2])
ESCAPE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]")
CURSOR_SHOWN = re.compile(rb"\x1b\[\?25[lh]")
MENU_PROMPT = "请选择菜单编号:"
PAUSE = "请按任意键继续. . ."
STUDENT = "7 张三 19 男 2004.05 北京 138 z@q.com\r"
HOME = b"\x1b[H"


def lines(text):
    return [l.expandtabs(8).rstrip() for l in text.replace("\r", "").split("\n")]


class Session:
    def __init__(self, workdir, under_parent=False, args=()):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(workdir)
            # Keys reach wine as a terminal sends them (Enter as CR), except
            # that Ctrl-C is a signal, which wine turns into the console's
            # Ctrl-C event. Ctrl-Z reaches wine as a key, as on Windows.
            tty.setraw(0)
            mode = termios.tcgetattr(0)
            mode[3] |= termios.ISIG
            mode[6][termios.VSUSP] = 0
            termios.tcsetattr(0, termios.TCSANOW, mode)
            if under_parent:  # the program as a path wine maps back to this one
                os.execvp("wine", ["wine", PARENT, "Z:" + EXE.replace("/", "\\")])
            os.execvp("wine", ["wine", EXE, *args])
        self.raw = b""
        self.mark = 0  # text before this has been matched already
        self.status = None

    def text(self, raw=None):
        return ESCAPE.sub(b"", self.raw if raw is None else raw).decode("utf-8", "replace")

    def pump(self, secs):
        ready, _, _ = select.select([self.fd], [], [], secs)
        if ready:
            try:
                self.raw += os.read(self.fd, 65536)
            except OSError:  # the program is gone
                time.sleep(secs)

    def until(self, wanted, secs=20):
        end = time.time() + secs
        while time.time() < end:
            at = self.text().find(wanted, self.mark)
            if at >= 0:
                self.mark = at + len(wanted)
                return True
            self.pump(0.05)
        return False

    def type(self, keys):
        os.write(self.fd, keys.encode())

    def ended(self, secs):
        end = time.time() + secs
        while time.time() < end and self.status is None:
            pid, st = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = os.waitstatus_to_exitcode(st)
            self.pump(0.05)
        return self.status is not None

    def close(self):
        if self.status is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def check(ok, what, session=None):
    if not ok:
        tail = session.text()[-600:] if session else ""
        raise AssertionError(f"{what}\n--- the console showed, at the end:\n{tail}")


def menu_shown_in_chinese(s, workdir):
    piped = subprocess.run(["wine", EXE], input=b"8\n", capture_output=True, cwd=workdir, timeout=60)
    menu = lines(piped.stdout.decode("gbk"))
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    check(lines(s.text())[-len(menu):] == menu, "the menu differs from the piped one", s)
    s.type("8\r")
    check(s.ended(30) and s.status == 0, f"8 did not end the program: {s.status}", s)


def pause_waits_then_screen_clears(s, workdir):
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until(PAUSE), "no pause", s)
    check(not s.until(MENU_PROMPT, 1.5), "the menu came back without a key", s)
    at = len(s.raw)
    s.type("x")
    check(s.until(MENU_PROMPT), "no menu after the key", s)
    after = CURSOR_SHOWN.sub(b"", s.raw[at:])
    first = lines(s.text(after))
    menu_line = next(l for l in first if l.strip() and l.strip() != "x")
    home = after.rfind(HOME, 0, after.find(menu_line.encode()))
    check(home >= 0, "the menu is not drawn from the top of the console", s)
    check(s.text(after[:home]).strip() in ("", "x"), "the screen kept old text", s)
    s.type("8\r")
    check(s.ended(30) and s.status == 0, "8 did not end the program", s)


def chinese_name_saved_as_gbk(s, workdir):
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("4\r1\r" + STUDENT)
    for keys in ("x", "7\r", "x", "8\r"):
        check(s.until(PAUSE if keys == "x" else MENU_PROMPT), f"no prompt before {keys!r}", s)
        s.type(keys)
    check(s.ended(30) and s.status == 0, "the session did not end", s)
    with open(os.path.join(workdir, "student.txt"), "rb") as f:
        saved = f.read()
    want = "7 张三 19 男 2004.05 北京 138 z@q.com\r\n".encode("gbk")
    check(saved == want, f"student.txt holds {saved!r}", s)


def typed_ahead_answer_survives_the_pause(s, workdir):
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6 8\r")
    check(s.until(PAUSE), "no pause", s)
    check(not s.ended(1.5), "ended without waiting for a key", s)
    s.type("x")
    check(s.until(MENU_PROMPT + "8\r\n"), "the typed-ahead 8 was not shown after its prompt", s)
    check(s.ended(30) and s.status == 0, "the typed-ahead 8 was not answered", s)


def answers_pasted_across_a_pause_show_after_their_prompts(s, workdir):
    # Typed once: the console shows 6 as it reads it, after the new prompt.
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("1\r6\r")
    check(s.until(PAUSE), "no pause", s)
    s.type("x")
    check(s.until(MENU_PROMPT + "6\r\n所有学生的信息为:"), "6 not shown once after its prompt", s)


def key_at_the_pause(name, key):
    def case(s, workdir):
        check(s.until(MENU_PROMPT), "no menu prompt", s)
        s.type("6\r")
        check(s.until(PAUSE), "no pause", s)
        s.type(key)
        check(s.until(MENU_PROMPT), "the key did not end the pause", s)
        s.type("8\r")
        check(s.ended(30) and s.status == 0, "part of the key was left for the answer", s)
    case.__name__ = f"{name}_at_the_pause_is_one_key"
    return case


def cpu_ticks(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def a_pause_with_an_event_pending_takes_no_cpu(s, workdir):
    # Enter's release is still in the console when the pause begins.
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until(PAUSE), "no pause", s)
    time.sleep(0.5)
    before, began = cpu_ticks(s.pid), time.time()
    time.sleep(5)
    used = (cpu_ticks(s.pid) - before) / os.sysconf("SC_CLK_TCK") / (time.time() - began)
    check(used < 0.01, f"the pause took {used:.1%} of a core", s)
    s.type("x")
    check(s.until(MENU_PROMPT), "no menu after the key", s)


def a_paste_at_the_pause_keeps_all_but_its_first_key(s, workdir):
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until(PAUSE), "no pause", s)
    s.type("x8\r")
    check(s.ended(30) and s.status == 0, "the 8 pasted after the key was not answered", s)


# wine's console makes three presses of the last two.
KEYS = [("alt_x", "\x1bx"), ("f1", "\x1bOP"), ("f5", "\x1b[15~"), ("up", "\x1b[A"),
        ("chinese", "中"), ("emoji", "😀"), ("alt_chinese", "\x1b中"),
        ("linux_console_f1", "\x1b[[A"), ("alt_up", "\x1b\x1b[A")]


def name_not_in_gbk(name, char):
    def case(s, workdir):
        check(s.until(MENU_PROMPT), "no menu prompt", s)
        s.type(f"4\r1\r7 {char}\r")
        check(s.until("输入含有无法保存的字符,请重新输入\r\n请输入第 1 个学生的姓名:"),
              "the name was not refused and asked again", s)
    case.__name__ = f"a_name_with_{name}_is_refused"
    return case


def bogus_argument_shown_in_chinese(s, workdir):
    check(s.ended(30) and s.status == 2, f"student --bogus ended with {s.status}", s)
    want = ['student: 无法识别的参数 "--bogus"',
            "用法：student [文件] [--export 输出文件 | --import 输入.csv] | -h | --version"]
    check(lines(s.text())[-3:-1] == want, "the error is not shown right", s)


bogus_argument_shown_in_chinese.args = ("--bogus",)


def a_register_named_in_chinese_is_named_so_in_notices(s, workdir):
    # The name comes from the wide command line and goes back through the
    # console's wide calls, on a console not on 936.
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("4\r1\r" + STUDENT)
    check(s.until(PAUSE), "no pause", s)
    s.type("x")
    check(s.until(MENU_PROMPT), "no menu after the key", s)
    s.type("8\r")
    check(s.ended(30), "the session did not end", s)
    check("有未保存的修改,已另存为二班.unsaved.txt" in s.text(), "the notice does not name the file", s)
    check(os.path.exists(os.path.join(workdir, "二班.unsaved.txt")), "the file is not there", s)


a_register_named_in_chinese_is_named_so_in_notices.args = ("二班.txt",)


def ending(name, typed, key, unsaved):
    # The notice, and the shell's prompt after it, start lines of their own.
    def case(s, workdir):
        check(s.until(MENU_PROMPT), "no menu prompt", s)
        if unsaved:
            s.type("4\r1\r" + STUDENT)
            check(s.until(PAUSE), "no pause", s)
            s.type("x")
            check(s.until(MENU_PROMPT), "no menu after the key", s)
        s.type(typed)
        check(s.until(typed), "the half-typed answer was not echoed", s)
        s.type(key)
        check(s.ended(30), "the session did not end", s)
        tail = s.text()[s.text().rfind(MENU_PROMPT):].replace("\r", "")
        notice = "\n有未保存的修改,已另存为student.unsaved.txt\n"
        check(not unsaved or notice in tail, "the notice is not shown right on a line of its own", s)
        check(tail.endswith("\n"), "the console was left mid-line", s)
    case.__name__ = f"{name}_ends_on_a_line_of_its_own"
    return case


ENDINGS = [("ctrl_z", "", "\x1a\r", True), ("ctrl_c_in_a_half_typed_answer", "ab", "\x03", True),
           ("ctrl_c_with_nothing_to_keep", "ab", "\x03", False)]


def ctrl_c(where):
    def case(s, workdir):
        check(s.until(MENU_PROMPT), "no menu prompt", s)
        if where == "pause":
            s.type("6\r")
            check(s.until(PAUSE), "no pause", s)
        s.type("\x03")
        check(s.ended(30), f"Ctrl-C at the {where} did not end the session", s)
    case.__name__ = f"ctrl_c_at_the_{where}_ends_the_session"
    return case


def under_parent(case):
    case.under_parent = True
    return case


@under_parent
def a_parents_console_mode_is_not_inherited_and_comes_back(s, workdir):
    # The parent turned off line input and echo: the program edits and
    # echoes its lines all the same, and leaves the parent's mode behind.
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until("6"), "the answer was not echoed in the parent's mode", s)
    check(s.until(PAUSE), "no pause", s)
    s.type("x")
    check(s.until(MENU_PROMPT), "no menu after the key", s)
    s.type("8\r")
    check(s.until("exit=0"), "8 did not end the program", s)
    check(s.until("input-mode-kept"), "the parent's console mode was not put back", s)


def inject(s, workdir, what=""):
    with open(os.path.join(workdir, "inject"), "w") as f:
        f.write(what)
    end = time.time() + 20
    while not os.path.exists(os.path.join(workdir, "injected")) and time.time() < end:
        s.pump(0.05)
    check(os.path.exists(os.path.join(workdir, "injected")), "the events were not put in", s)
    os.remove(os.path.join(workdir, "injected"))


@under_parent
def only_a_key_press_ends_the_pause(s, workdir):
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until(PAUSE), "no pause", s)
    inject(s, workdir)
    check(not s.until(MENU_PROMPT, 1.5), "an event that is no key press ended the pause", s)
    s.type("x")
    check(s.until(MENU_PROMPT), "no menu after the key", s)
    s.type("8\r")
    check(s.until("exit=0"), "8 did not end the program", s)


@under_parent
def an_alt_code_ends_the_pause(s, workdir):
    # Alt+0183: the character comes with the release of Alt alone.
    check(s.until(MENU_PROMPT), "no menu prompt", s)
    s.type("6\r")
    check(s.until(PAUSE), "no pause", s)
    inject(s, workdir, "alt")
    check(s.until(MENU_PROMPT), "the Alt code did not end the pause", s)
    s.type("8\r")
    check(s.until("exit=0"), "8 did not end the program", s)


CASES = [menu_shown_in_chinese, pause_waits_then_screen_clears, chinese_name_saved_as_gbk,
         typed_ahead_answer_survives_the_pause, ctrl_c("menu"), ctrl_c("pause"),
         a_parents_console_mode_is_not_inherited_and_comes_back, only_a_key_press_ends_the_pause,
         answers_pasted_across_a_pause_show_after_their_prompts, bogus_argument_shown_in_chinese,
         a_register_named_in_chinese_is_named_so_in_notices,
         a_paste_at_the_pause_keeps_all_but_its_first_key, a_pause_with_an_event_pending_takes_no_cpu,
         an_alt_code_ends_the_pause]
CASES += [key_at_the_pause(*k) for k in KEYS] + [ending(*e) for e in ENDINGS]
CASES += [name_not_in_gbk("an_emoji", "😀"), name_not_in_gbk("hangul", "한")]


def main():
    failed = 0
    for case in CASES:
        workdir = tempfile.mkdtemp(prefix="student-console-")
        s = Session(workdir, getattr(case, "under_parent", False), getattr(case, "args", ()))
        try:
            case(s, workdir)
            print(f"[ OK ] console.{case.__name__}")
        except (AssertionError, subprocess.TimeoutExpired) as e:
            failed += 1
            print(f"[FAIL] console.{case.__name__}: {e}")
        finally:
            s.close()
            shutil.rmtree(workdir, ignore_errors=True)
    print(f"{len(CASES) - failed} of {len(CASES)} console cases passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
