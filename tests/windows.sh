#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 (statically linked) and
# libxlsxwriter from Debian's sources (scripts/xlsxwriter-mingw.sh), runs the
# file layer's own tests and those of the names workbooks are written to under
# wine (tests/windows/file_test.cpp, workbook_test.cpp), and the console's
# control handler (control_test.cpp), then
# the end-to-end transcript tests, the command-line table and the register
# tests (registers named each way, UTF-8 registers, export and import)
# against the .exe under wine. The transcripts are compared with CR LF line ends
# brought to their POSIX form; the saved file must have CR LF line ends and
# load back. Then the .exe runs at a pseudo-terminal, where wine gives it a
# console on wine's default code page (tests/wine_console.py).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v x86_64-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine > /dev/null || need+=(wine)
command -v python3 > /dev/null || need+=(python3)
if ((${#need[@]})); then
  echo "installing ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
fi

scripts/xlsxwriter-mingw.sh build-win/deps
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSTUDENT_TESTS=ON > /dev/null
cmake --build build-win -j2
# A console program that loads user32 or gdi32 no longer hears of a
# sign-out or a shutdown, so its unsaved work would be lost then.
imports=$(x86_64-w64-mingw32-objdump -p build-win/student.exe)
if grep -qiE 'DLL Name: (user32|gdi32)' <<< "$imports"; then
  echo "student.exe imports user32 or gdi32" >&2
  exit 1
fi
# The transcript tests themselves run natively and start the .exe.
cmake -S . -B build > /dev/null
cmake --build build -j2 --target student_tests

export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all
# One server for every run, started here: never part of a pseudo-terminal's
# process group, where the console tests' Ctrl-C would reach it.
mkdir -p "$WINEPREFIX"
wineserver -k 2> /dev/null || true
wineserver -p
wineboot -i > /dev/null 2>&1 || true
trap 'wineserver -k 2> /dev/null || true' EXIT
wine build-win/student_file_tests.exe
wine build-win/student_workbook_tests.exe
wine build-win/student_control_tests.exe
STUDENT_RUNNER=wine STUDENT_PROGRAM="$PWD/build-win/student.exe" \
  build/student_tests --gtest_filter='program.*:args/command_line.*:registers/*:register_file.*' --gtest_brief=1
python3 tests/wine_console.py build-win/student.exe build-win/console_parent.exe
