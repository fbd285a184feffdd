#!/usr/bin/env bash
# Builds the Debian package (from build-deb/, configured for /usr) and the
# Windows zip (from the mingw-w64 cross-build in build-win/), looks inside
# both, checks the package with lintian and its manual page with man,
# installs the package into a scratch root and unzips the zip, and starts
# each installed program as a first-time user would: the package's in an
# empty folder, where it must name its sample, and each on a copy of the
# sample register it ships, which must load. Installs dpkg-dev (for the
# package's computed dependencies), lintian, man-db, mingw-w64 and wine
# with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v dpkg-shlibdeps > /dev/null || need+=(dpkg-dev)
command -v lintian > /dev/null || need+=(lintian)
command -v man > /dev/null || need+=(man-db)
command -v x86_64-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine > /dev/null || need+=(wine)
if ((${#need[@]})); then
  echo "installing ${need[*]}"
  flock /tmp/apt.lock apt-get update -qq
  flock /tmp/apt.lock env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
fi

scratch=$(mktemp -d)
finish() {
  rm -rf "$scratch"
  if [[ -v WINEPREFIX ]]; then wineserver -k 2> /dev/null || true; fi
}
trap finish EXIT
fail() { echo "packages: $*" >&2; exit 1; }
# Output is kept before it is searched: under pipefail, `cmd | grep -q`
# fails whenever grep has its match before cmd has written its last block.
loaded=$(printf '刷新完成' | iconv -f UTF-8 -t GBK)
# What the program prints for 1 (load), 6 (list), 8 (leave) in a folder
# holding only the given register.
session() { (cd "$1" && printf '1\n6\n8\n' | "${@:2}"); }

# Debian.
cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DSTUDENT_TESTS=OFF > /dev/null
cmake --build build-deb -j2 --target student
rm -f build-deb/student_*.deb
(cd build-deb && cpack -G DEB > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(echo build-deb/student_*_amd64.deb)
[[ -f $deb ]] || fail "no Debian package in build-deb/"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
version=$(dpkg-deb --field "$deb" Version)
[[ $(dpkg-deb --field "$deb" Package) == student ]] || fail "$deb: not named student"
for field in Maintainer Description; do
  [[ -n $(dpkg-deb --field "$deb" $field) ]] || fail "$deb: no $field"
done
# The C++ runtime is linked in, so the C library is all it needs; the line
# editor is loaded when a terminal is there and the workbook writer when a
# workbook is written, each only if it is installed.
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends =~ ^libc6\ \(\>=\ [^,]*\)$ ]] || fail "$deb: depends on $depends"
recommends=$(dpkg-deb --field "$deb" Recommends)
[[ $recommends == "libedit2, libxlsxwriter4" ]] || fail "$deb: recommends $recommends, not libedit2 and libxlsxwriter4"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
doc=./usr/share/doc/student
for f in ./usr/bin/student ./usr/share/man/man1/student.1.gz $doc/student.txt $doc/copyright $doc/changelog.gz; do
  grep -qxF "$f" <<< "$contents" || fail "$deb: no $f"
done
! grep -q README <<< "$contents" || fail "$deb: holds the developers' README"
echo "lintian:"
lintian --fail-on error --display-info "$deb" | sed 's/^/  /' || fail "lintian found errors in $deb"
dpkg -x "$deb" "$scratch/root"
man_page="$scratch/root/usr/share/man/man1/student.1.gz"
warned=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$man_page" 2>&1 > /dev/null)
[[ -z $warned ]] || fail "the manual page renders with warnings: $warned"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$man_page" > "$scratch/man"
head -30 "$scratch/man"
[[ $("$scratch/root/usr/bin/student" --version) == "student $version" ]] || fail "--version"
# The first run in an empty folder, with the package's documentation where
# it installs it (in a mount namespace of its own, so the system's is left
# alone): standard error names the sample, the dialogue stays as it was.
installed() {
  (cd "$1" && unshare -m sh -c 'mount --bind "$0" /usr/share/doc && exec "$@"' \
    "$scratch/root/usr/share/doc" "$scratch/root/usr/bin/student" "${@:2}")
}
mkdir "$scratch/empty"
printf '1\n8\n' | installed "$scratch/empty" > "$scratch/out" 2> "$scratch/err"
hint="cp /usr/share/doc/student/student.txt student.txt"
looked=$(printf '未找到student.txt' | iconv -f UTF-8 -t GBK)
[[ $(head -n 1 "$scratch/err") == "$looked" && $(cat "$scratch/err") == *"$hint" && $(wc -l < "$scratch/err") == 2 ]] ||
  fail "a first run in an empty folder does not name the register and the sample: $(cat "$scratch/err")"
grep -qF "$(printf '未找到该文件' | iconv -f UTF-8 -t GBK)" "$scratch/out" && ! grep -q /usr/share "$scratch/out" ||
  fail "a first run in an empty folder changed the dialogue"
help=$(LC_ALL=C.UTF-8 installed "$scratch/empty" --help)
grep -qF "示例数据：cp /usr/share/doc/student/student.txt ." <<< "$help" ||
  fail "--help in a UTF-8 locale does not name the sample"
mkdir "$scratch/deb" && cp "$scratch/root/usr/share/doc/student/student.txt" "$scratch/deb"
grep -qF "$loaded" <<< "$(session "$scratch/deb" "$scratch/root/usr/bin/student")" ||
  fail "the installed program did not load its sample register"
echo "$deb: passes lintian, installed, names its sample on a first run, and loads it"

# Windows.
scripts/xlsxwriter-mingw.sh build-win/deps
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSTUDENT_TESTS=OFF > /dev/null
cmake --build build-win -j2 --target student
rm -f build-win/student-*-win64.zip
# The guide's Chinese name goes in and out of the zip in UTF-8 only in a
# UTF-8 locale; in another, cpack and cmake -E tar fail on it.
(cd build-win && LC_ALL=C.UTF-8 cpack -G ZIP > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
zip="$PWD/build-win/student-$version-win64.zip"
[[ -f $zip ]] || fail "no $zip"
(cd "$scratch" && LC_ALL=C.UTF-8 cmake -E tar tf "$zip" | LC_ALL=C sort > list && LC_ALL=C.UTF-8 cmake -E tar xf "$zip")
top=student-$version-win64
guide="$top/使用说明.txt"
printf '%s\n' "$top/student.exe" "$top/student.txt" "$guide" | LC_ALL=C sort | diff - "$scratch/list" ||
  fail "$zip: not the expected contents"
echo "$zip:" && sed 's/^/  /' "$scratch/list"
# Notepad's forms: the guide in UTF-8 with the mark, every line in CR LF.
crlf() { [[ $(tail -c 2 "$1" | od -An -tx1 | tr -d ' ') == 0d0a ]] && ! grep -qv $'\r$' "$1"; }
[[ $(head -c 3 "$scratch/$guide" | od -An -tx1 | tr -d ' ') == efbbbf ]] || fail "$guide: no byte-order mark"
crlf "$scratch/$guide" || fail "$guide: not CR LF throughout"
iconv -f UTF-8 -t UTF-8 "$scratch/$guide" > /dev/null || fail "$guide: not UTF-8"
grep -qF "双击 student.exe" "$scratch/$guide" || fail "$guide: not the Chinese guide"
# PowerShell runs a program in the current folder only when told where it
# is: every command the guide gives is .\student, which the command prompt
# takes too, and the import has its section.
grep -qF '  .\student --import ' "$scratch/$guide" || fail "$guide: no import in the .\\ form"
grep -qF 'CSV UTF-8' "$scratch/$guide" || fail "$guide: no word on saving a CSV"
if tr -d '\r' < "$scratch/$guide" | grep -nE '^ +student( |$)|输入 student'; then
  fail "$guide: a command without .\\, which PowerShell does not run"
fi
crlf "$scratch/$top/student.txt" || fail "$top/student.txt: not CR LF throughout"
tr -d '\r' < "$scratch/$top/student.txt" | cmp -s - examples/student.txt || fail "$top/student.txt: not the sample"
# The prefix tests/windows.sh set up, when it has run.
export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all
grep -qF "$loaded" <<< "$(session "$scratch/$top" wine student.exe 2> /dev/null)" ||
  fail "the zipped program did not load the register beside it"
echo "$zip: unzipped, and loads the register beside it"
