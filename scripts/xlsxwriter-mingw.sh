#!/usr/bin/env bash
# Usage: scripts/xlsxwriter-mingw.sh PREFIX
#
# Builds libxlsxwriter for the mingw-w64 cross-build of the Windows program
# from Debian's source package, as a static library with its own minizip and
# tmpfileplus and with zlib from Debian's libz-mingw-w64-dev, and installs
# PREFIX/include/xlsxwriter.h, PREFIX/include/xlsxwriter/ and
# PREFIX/lib/libxlsxwriter.a. Does nothing when PREFIX holds a library this
# script built (PREFIX/lib/xlsxwriter-mingw.stamp holds the checksum of the
# script and of the toolchain file; a change to either builds it again).
# Installs the Debian packages it needs when they are missing. Prints
# nothing on success; on failure says what failed on standard error and
# exits non-zero.
set -euo pipefail

fail() { echo "xlsxwriter-mingw: $*" >&2; exit 1; }
[[ $# == 1 && -n $1 ]] || fail "usage: $0 PREFIX"
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" || fail "cannot create $1"
prefix=$(cd "$1" && pwd)
stamp=$prefix/lib/xlsxwriter-mingw.stamp
recipe=$(cat "$0" "$here/cmake/mingw-w64.cmake" | sha256sum | cut -d' ' -f1)
if [[ -f $prefix/lib/libxlsxwriter.a && -f $stamp ]] && grep -qx "recipe $recipe" "$stamp"; then
  exit 0
fi

# Everything it runs, with the output kept for a failure and shown only then.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log=$work/log
step() {
  local what=$1
  shift
  "$@" >> "$log" 2>&1 || { tail -n 40 "$log" >&2; fail "$what failed (see above)"; }
}
installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2> /dev/null) == *' ok installed' ]]; }
need=()
for p in libz-mingw-w64-dev gcc-mingw-w64-x86-64 dpkg-dev cmake make; do
  installed "$p" || need+=("$p")
done
if ((${#need[@]})); then
  sudo=()
  ((EUID == 0)) || sudo=(sudo)
  # Every apt-get here holds /tmp/apt.lock: other builds may use apt at once.
  step "apt-get update" "${sudo[@]}" flock /tmp/apt.lock apt-get -qq update
  step "installing ${need[*]}" "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    flock /tmp/apt.lock apt-get -qq -y install "${need[@]}"
fi

# The source package comes from the same archives the machine installs
# from, through an apt of its own: the system's sources and lists stay as
# they are. Each deb entry of the system becomes the matching deb-src one.
conf=$work/apt
mkdir -p "$conf/parts" "$conf/lists/partial" "$conf/cache/archives/partial" "$work/src"
for f in /etc/apt/sources.list.d/*.sources; do
  if [[ -e $f ]]; then
    sed -E 's/^Types:.*/Types: deb-src/' "$f" > "$conf/parts/$(basename "$f")"
  fi
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  if [[ -e $f ]]; then
    sed -nE 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$f" > "$conf/parts/$(basename "$f")"
  fi
done
# The checks are the usual ones: the Release files' signatures, then the
# checksums of each downloaded file. Only where the files go is private.
private=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$conf/parts"
  -o "Dir::State::Lists=$conf/lists" -o "Dir::Cache=$conf/cache"
  -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
step "apt-get update of the source lists" flock /tmp/apt.lock apt-get "${private[@]}" -q update
(cd "$work/src" && step "apt-get source libxlsxwriter" \
  flock /tmp/apt.lock apt-get "${private[@]}" -q source --download-only libxlsxwriter)
dsc=$(echo "$work"/src/libxlsxwriter_*.dsc)
[[ -f $dsc ]] || fail "apt-get source gave no libxlsxwriter .dsc"
version=$(sed -n 's/^Version: //p' "$dsc")
# With whatever patches Debian applies to its own build of it.
step "dpkg-source -x" dpkg-source -x "$dsc" "$work/src/libxlsxwriter"

# Under MinGW the library hides _WIN32 from itself and opens the workbook
# with fopen, so a UTF-8 name holding Chinese reaches the ANSI code page
# mangled. Its MSVC path turns the name into UTF-16 and opens it with
# CreateFileW (minizip's iowin32); MinGW takes that path too.
src=$work/src/libxlsxwriter
for f in src/packager.c src/utility.c; do
  perl -0pi -e '$n = s/#ifdef __MINGW32__\n#undef _WIN32\n#endif\n//g; END { exit($n != 1) }' "$src/$f" ||
    fail "$f: not the MinGW lines this script changes (a new libxlsxwriter?)"
done
perl -0pi -e '$n = s/if\(MSVC\)(\s+list\(APPEND LXW_SOURCES third_party\/minizip\/iowin32\.c\))/if(WIN32)$1/; END { exit($n != 1) }' \
  "$src/CMakeLists.txt" || fail "CMakeLists.txt: no iowin32.c line for MSVC (a new libxlsxwriter?)"

# Static, for the -static .exe; zlib is found under the toolchain's root.
# Each build gets a fresh install: nothing of an older one stays behind.
step "cmake configure" cmake -S "$work/src/libxlsxwriter" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$work/install" -DBUILD_SHARED_LIBS=OFF \
  -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF -DUSE_SYSTEM_MINIZIP=OFF -DUSE_STANDARD_TMPFILE=OFF
step "cmake build" cmake --build "$work/build" -j2
step "cmake install" cmake --install "$work/build"
[[ -f $work/install/lib/libxlsxwriter.a ]] || fail "the build installed no lib/libxlsxwriter.a"
rm -rf "$prefix/include/xlsxwriter" "$prefix/include/xlsxwriter.h" "$prefix/lib/libxlsxwriter.a" "$stamp"
mkdir -p "$prefix/include" "$prefix/lib"
cp -R "$work/install/include/." "$prefix/include/"
cp "$work/install/lib/libxlsxwriter.a" "$prefix/lib/"
# Written last, so an interrupted run is done again from the start.
printf 'libxlsxwriter %s\nrecipe %s\n' "$version" "$recipe" > "$stamp"
